#pragma once
// One finished dictation as stored in the history file (one JSON object per line).

#include <cstdint>
#include <optional>
#include <string>

#include "core/JsonFields.h"
#include "core/LocalTime.h"
#include "core/Uuid.h"

namespace quorvel {

// A plain value record. Build it with designated initialisers, e.g.
//   HistoryEntry{.ts = "", .text = "привет", .elapsedMs = 900, .modeName = "Обычный"}
// `id` is a fresh random UUID and `createdAt` the current time unless given. Every member has
// a default initialiser so that callers name only what they set.
struct HistoryEntry {
    std::string id = uuid::generate();  // canonical upper-case UUID
    std::string ts{};                   // local wall-clock time, "yyyy-MM-dd HH:mm:ss"
    std::string text{};                 // the delivered text
    std::optional<std::string> originalText{};
    int64_t elapsedMs = 0;  // stands in for the recording length without durationMs
    std::string modeName{};
    std::optional<std::string> translatedTo{};
    std::optional<std::string> audioPath{};
    std::optional<int64_t> durationMs{};
    std::optional<std::string> modelName{};
    std::optional<std::string> sourceApp{};
    double createdAt = localtime::nowSeconds();  // seconds since 1970; retention works on it

    // Runs of non-whitespace characters in `text`.
    int64_t words() const;

    // Words per minute over the recording length; absent for recordings of 500 ms or less.
    std::optional<double> wpm() const;

    // Every key optional (missing or null: the default above, `createdAt` the current time);
    // throws json::DecodeError on a value of the wrong type or an `id` that is not a UUID.
    static HistoryEntry fromJson(const json::Json& object);

    // All keys in declaration order; the optional ones only when present.
    json::Json toJson() const;

    bool operator==(const HistoryEntry&) const = default;
};

}  // namespace quorvel
