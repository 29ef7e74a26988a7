#include "core/HistoryEntry.h"

#include "core/Unicode.h"

namespace quorvel {

int64_t HistoryEntry::words() const {
    return unicode::wordCount(text);
}

std::optional<double> HistoryEntry::wpm() const {
    const int64_t duration = durationMs.value_or(elapsedMs);
    if (duration <= 500) return std::nullopt;
    return static_cast<double>(words()) / (static_cast<double>(duration) / 60000.0);
}

HistoryEntry HistoryEntry::fromJson(const json::Json& object) {
    json::requireObject(object, "HistoryEntry");
    // Start without an id: generating one only to overwrite it costs time on large files.
    HistoryEntry entry{.id = {}};

    std::optional<std::string> id;
    json::read(object, "id", id);
    if (id) {
        auto canonical = uuid::canonical(*id);
        if (!canonical) throw json::DecodeError("id: expected a UUID");
        entry.id = std::move(*canonical);
    } else {
        entry.id = uuid::generate();
    }
    json::read(object, "ts", entry.ts);
    json::read(object, "text", entry.text);
    json::read(object, "originalText", entry.originalText);
    json::read(object, "elapsedMs", entry.elapsedMs);
    json::read(object, "modeName", entry.modeName);
    json::read(object, "translatedTo", entry.translatedTo);
    json::read(object, "audioPath", entry.audioPath);
    json::read(object, "durationMs", entry.durationMs);
    json::read(object, "modelName", entry.modelName);
    json::read(object, "sourceApp", entry.sourceApp);
    json::read(object, "createdAt", entry.createdAt);
    return entry;
}

json::Json HistoryEntry::toJson() const {
    json::Json object = json::Json::object();
    object["id"] = id;
    object["ts"] = ts;
    object["text"] = text;
    json::writeOptional(object, "originalText", originalText);
    object["elapsedMs"] = elapsedMs;
    object["modeName"] = modeName;
    json::writeOptional(object, "translatedTo", translatedTo);
    json::writeOptional(object, "audioPath", audioPath);
    json::writeOptional(object, "durationMs", durationMs);
    json::writeOptional(object, "modelName", modelName);
    json::writeOptional(object, "sourceApp", sourceApp);
    object["createdAt"] = createdAt;
    return object;
}

}  // namespace quorvel
