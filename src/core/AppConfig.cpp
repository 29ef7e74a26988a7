#include "core/AppConfig.h"

#include "core/AppPaths.h"

namespace quorvel {

// The one list of keys, in coding order; both reading and writing walk it.
template <typename Self, typename Visitor>
void AppConfig::forEachField(Self& c, Visitor&& visit) {
    visit("modeTapEnabled", c.modeTapEnabled);
    visit("modeHoldEnabled", c.modeHoldEnabled);
    visit("soundRecord", c.soundRecord);
    visit("soundPaste", c.soundPaste);
    visit("overlayStyle", c.overlayStyle);
    visit("overlayAlwaysShow", c.overlayAlwaysShow);
    visit("theme", c.theme);
    visit("maxRecordSeconds", c.maxRecordSeconds);
    visit("restoreClipboard", c.restoreClipboard);
    visit("activeModeID", c.activeModeID);
    visit("translateDefault", c.translateDefault);
    visit("ollamaURL", c.ollamaURL);
    visit("ollamaModel", c.ollamaModel);
    visit("pythonPath", c.pythonPath);
    visit("onboarded", c.onboarded);
    visit("showDockIcon", c.showDockIcon);
    visit("modes", c.modes);
    visit("overlayFollowCursor", c.overlayFollowCursor);
    visit("overlayPosX", c.overlayPosX);
    visit("overlayPosY", c.overlayPosY);
    visit("keyToggle", c.keyToggle);
    visit("keyCancel", c.keyCancel);
    visit("keyMode", c.keyMode);
    visit("soundProfile", c.soundProfile);
    visit("soundVolume", c.soundVolume);
    visit("sttModelID", c.sttModelID);
    visit("uiLanguage", c.uiLanguage);
    visit("keepRecordings", c.keepRecordings);
    visit("pasteResultText", c.pasteResultText);
    visit("holdShiftToSend", c.holdShiftToSend);
    visit("simulateKeypresses", c.simulateKeypresses);
    visit("silenceRemoval", c.silenceRemoval);
    visit("dynamicNormalization", c.dynamicNormalization);
    visit("punctRestore", c.punctRestore);
    visit("punctModelID", c.punctModelID);
    visit("soundWhileRecording", c.soundWhileRecording);
    visit("startRecordingOnMenubarClick", c.startRecordingOnMenubarClick);
    visit("closeAfterTranscription", c.closeAfterTranscription);
    visit("launchOnLogin", c.launchOnLogin);
    visit("typedWPM", c.typedWPM);
    visit("recordingsFolder", c.recordingsFolder);
    visit("checkUpdatesAuto", c.checkUpdatesAuto);
    visit("errorLogging", c.errorLogging);
    visit("showExperimentalModels", c.showExperimentalModels);
    visit("favoriteModels", c.favoriteModels);
    visit("pillPosX", c.pillPosX);
    visit("pillPosY", c.pillPosY);
}

namespace {

json::Json encodeValue(const KeyCombo& combo) { return combo.toJson(); }

json::Json encodeValue(const std::vector<DictationMode>& modes) {
    json::Json array = json::Json::array();
    for (const auto& mode : modes) array.push_back(mode.toJson());
    return array;
}

template <typename T>
json::Json encodeValue(const T& value) {
    return value;
}

struct Encoder {
    json::Json& out;
    template <typename T>
    void operator()(const char* key, const T& value) const {
        out[key] = encodeValue(value);
    }
    template <typename T>
    void operator()(const char* key, const std::optional<T>& value) const {
        if (value) out[key] = encodeValue(*value);
    }
};

}  // namespace

AppConfig AppConfig::fromJson(const json::Json& value) {
    json::requireObject(value, "AppConfig");
    AppConfig config;
    forEachField(config, [&](const char* key, auto& field) { json::read(value, key, field); });
    return config;
}

json::Json AppConfig::toJson() const {
    json::Json j = json::Json::object();
    forEachField(*this, Encoder{j});
    return j;
}

std::optional<AppConfig> AppConfig::decode(std::string_view bytes) {
    const auto parsed = json::parse(bytes);
    if (!parsed) return std::nullopt;
    try {
        return fromJson(*parsed);
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

std::filesystem::path AppConfig::recordingsDirectory() const {
    return recordingsFolder ? std::filesystem::path(*recordingsFolder) : AppPaths::recordingsDir();
}

std::optional<std::string> AppConfig::encode() const { return json::dump(toJson()); }

}  // namespace quorvel
