#pragma once
// The whole user configuration: one value record, stored as "config.json".

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/DictationMode.h"
#include "core/JsonFields.h"
#include "core/KeyCombo.h"

namespace quorvel {

struct AppConfig {
    bool modeTapEnabled = true;
    bool modeHoldEnabled = true;
    bool soundRecord = true;
    bool soundPaste = false;
    std::string overlayStyle = "classic";
    bool overlayAlwaysShow = false;
    std::string theme = "auto";
    double maxRecordSeconds = 60;
    bool restoreClipboard = false;
    std::string activeModeID;
    bool translateDefault = false;
    std::string ollamaURL = "http://127.0.0.1:11434/api/generate";
    std::string ollamaModel = "qwen3.6:27b";
    std::string pythonPath = "/usr/bin/python3";
    bool onboarded = false;
    bool showDockIcon = true;
    std::vector<DictationMode> modes = DictationMode::builtIns();
    bool overlayFollowCursor = false;
    std::optional<double> overlayPosX;
    std::optional<double> overlayPosY;
    KeyCombo keyToggle = KeyCombo::defaultToggle;
    KeyCombo keyCancel = KeyCombo::defaultCancel;
    KeyCombo keyMode = KeyCombo::defaultMode;
    std::string soundProfile = "classic";
    double soundVolume = 0.8;
    std::string sttModelID = "gigaam-v2-ru";
    std::string uiLanguage = "ru";
    std::string keepRecordings = "forever";
    bool pasteResultText = true;
    bool holdShiftToSend = false;
    bool simulateKeypresses = false;
    bool silenceRemoval = true;
    bool dynamicNormalization = true;
    bool punctRestore = true;
    std::string punctModelID = "qwen2.5:1.5b-instruct";
    std::string soundWhileRecording = "off";
    bool startRecordingOnMenubarClick = false;
    bool closeAfterTranscription = false;
    bool launchOnLogin = false;
    double typedWPM = 40;
    std::optional<std::string> recordingsFolder;
    bool checkUpdatesAuto = false;
    bool errorLogging = false;
    bool showExperimentalModels = false;
    std::vector<std::string> favoriteModels;
    std::optional<double> pillPosX;
    std::optional<double> pillPosY;

    // Missing or null keys keep their defaults; a value of the wrong JSON type anywhere throws
    // json::DecodeError (the whole file then counts as unreadable).
    static AppConfig fromJson(const json::Json& value);
    // Every key in coding order; the optional ones only when they hold a value.
    json::Json toJson() const;

    // Where dictation audio goes: `recordingsFolder` when set, else the default folder.
    std::filesystem::path recordingsDirectory() const;

    // Decodes the bytes of a configuration file; nothing when they are not a valid configuration.
    static std::optional<AppConfig> decode(std::string_view bytes);
    // Compact JSON text of the record.
    std::optional<std::string> encode() const;

    friend bool operator==(const AppConfig&, const AppConfig&) = default;

private:
    template <typename Self, typename Visitor>
    static void forEachField(Self& config, Visitor&& visit);
};

}  // namespace quorvel
