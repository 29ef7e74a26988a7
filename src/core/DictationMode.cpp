#include "core/DictationMode.h"

namespace quorvel {

std::vector<DictationMode> DictationMode::builtIns() {
    std::vector<DictationMode> modes(3);
    modes[0].name = "По умолчанию";
    modes[1].name = "Деловой стиль";
    modes[1].prompt = "Перепиши в деловом стиле, сохрани смысл:";
    modes[2].name = "Код-комментарий";
    modes[2].prompt = "Преврати в технический комментарий к коду:";
    return modes;
}

std::string DictationMode::defaultModelForLanguage(const std::string& language) {
    if (language == "ru") return "gigaam-v2-ru";
    if (language == "en") return "parakeet-v3-en";
    return "whisper-small-multi";
}

DictationMode DictationMode::fromJson(const json::Json& value) {
    json::requireObject(value, "DictationMode");
    DictationMode mode;
    std::optional<std::string> id;
    json::read(value, "id", id);
    if (id) {
        auto canonicalId = uuid::canonical(*id);
        if (!canonicalId) throw json::DecodeError("DictationMode: id is not a UUID");
        mode.id = std::move(*canonicalId);
    }
    json::read(value, "name", mode.name);
    json::read(value, "prompt", mode.prompt);
    json::read(value, "enabled", mode.enabled);
    json::read(value, "translateTo", mode.translateTo);
    json::read(value, "preset", mode.preset);
    json::read(value, "language", mode.language);
    json::read(value, "sttModelID", mode.sttModelID);
    json::read(value, "llmModel", mode.llmModel);
    json::read(value, "activateApps", mode.activateApps);
    json::read(value, "shortcut", mode.shortcut);
    json::read(value, "autocapitalize", mode.autocapitalize);
    json::read(value, "autoPaste", mode.autoPaste);
    json::read(value, "soundWhileRecordingMode", mode.soundWhileRecordingMode);
    return mode;
}

json::Json DictationMode::toJson() const {
    json::Json j = json::Json::object();
    j["id"] = id;
    j["name"] = name;
    j["prompt"] = prompt;
    j["enabled"] = enabled;
    j["translateTo"] = translateTo;
    j["preset"] = preset;
    j["language"] = language;
    json::writeOptional(j, "sttModelID", sttModelID);
    json::writeOptional(j, "llmModel", llmModel);
    j["activateApps"] = activateApps;
    if (shortcut) j["shortcut"] = shortcut->toJson();
    j["autocapitalize"] = autocapitalize;
    j["autoPaste"] = autoPaste;
    j["soundWhileRecordingMode"] = soundWhileRecordingMode;
    return j;
}

}  // namespace quorvel
