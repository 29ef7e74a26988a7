#pragma once
// One dictation mode: prompt, translation target, recognition language and model, the
// applications it is limited to, its own hot key, insertion and sound choices.

#include <optional>
#include <string>
#include <vector>

#include "core/JsonFields.h"
#include "core/KeyCombo.h"
#include "core/Uuid.h"

namespace quorvel {

struct DictationMode {
    std::string id = uuid::generate();  // canonical upper-case UUID text
    std::string name;
    std::string prompt;
    bool enabled = true;
    std::string translateTo = "off";
    std::string preset = "default";
    std::string language = "auto";
    std::optional<std::string> sttModelID;
    std::optional<std::string> llmModel;
    std::vector<std::string> activateApps;
    std::optional<KeyCombo> shortcut;
    bool autocapitalize = true;
    std::string autoPaste = "default";
    std::string soundWhileRecordingMode = "inherit";

    // The three modes every new configuration starts with, each with a new identifier.
    static std::vector<DictationMode> builtIns();

    // The model this mode's language implies when it names no model of its own.
    static std::string defaultModelForLanguage(const std::string& language);

    // Missing or null keys keep the defaults (a missing id gives a new one); a wrong JSON type,
    // or an id that is not a UUID, throws json::DecodeError.
    static DictationMode fromJson(const json::Json& value);
    json::Json toJson() const;

    friend bool operator==(const DictationMode&, const DictationMode&) = default;
};

}  // namespace quorvel
