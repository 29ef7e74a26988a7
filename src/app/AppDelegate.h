#pragma once
// The running program's one owner: every store and service, the pill, the hot keys, the
// dictation pipeline and the tray. start() runs the start-up sequence (single instance first);
// after it the program waits for hot keys, pill clicks and menu commands. Every callback handed
// out here is the only wiring between the parts. Main thread only.

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/ModelCatalog.h"
#include "core/PressStateMachine.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/WelcomeView.h"

namespace quorvel {

class AudioRecorder;
class AudioRecorderSamples;
class DictationPipeline;
class HotkeyManager;
class OverlayPanel;
class Paster;
class PillPanel;
class SettingsWindows;
class SingleInstance;
class SystemQueries;
class TextInjector;
class Transcriber;
class TrayMenu;
enum class MicrophoneAuthorization;

class AppDelegate : public QObject, public SettingsActions {
    Q_OBJECT
public:
    AppDelegate();
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The start-up sequence. `quit(status)` ends the program: a second copy calls it 0.25 s after
    // handing over to the first; the menu's quit and "close after transcription" call it too.
    void start(std::function<void(int)> quit);

    // The stores the settings window works on.
    ConfigStore& configStore() { return config_; }
    HistoryStore& historyStore() { return *history_; }

    void applyConfigToRuntime();
    void applyDockPolicy();
    void cycleMode();

    // What the settings window asks of the program. configChanged: the settings were saved, the
    // running program follows them, hot keys and recordings folder included.
    void configChanged() override;
    void runTypingTest() override;
    void shareStats() override;
    std::string checkForUpdates() override;
    bool launchOnLogin() override;
    bool setLaunchOnLogin(bool enabled) override;
    void pasteToPreviousApp(const std::string& text) override;
    void restartWorker() override;
    void openSystemSettings(SystemSettings::Permission permission) override;
    // Shows the settings window (QUORVEL_SETTINGS_SECTION picks the first page).
    void openSettings();
    void showWelcomeIfNeeded();

    // The record-flow probe of the headless runs, instead of start(): the parts a dictation needs
    // (no hot keys, no single-instance check), the desktop answering `microphone` for the
    // microphone; the record key goes down, comes up 2.5 s later, and 2 s after that the press
    // state is logged and `quit(0)` ends the program.
    void runRecordFlowProbe(MicrophoneAuthorization microphone, std::function<void(int)> quit);

private:
    bool handOverToRunningCopy();
    // The recorder, pill, worker client, paster and pipeline, asking `system` about the desktop.
    void createDictationParts(std::unique_ptr<SystemQueries> system);
    void createTranscriber();
    void wireRecorder();
    void wirePill();
    void wireHotkeys();
    void applyHotkeys();
    void refreshRecordingsFolderIfNeeded();
    void statusItemClicked();
    WelcomeView::State welcomeState();
    // Makes `id` the model of the active mode (and the global choice).
    void useModel(const std::string& id);
    void selectModeAndRecord(const std::string& modeId);
    void setupStatusItem();
    void refreshMenu();
    void showPill();
    void scheduleAutoclean();
    void schedulePunctWarmup();
    void askForMicrophoneIfUndetermined();
    HistoryStore& history() { return *history_; }

    std::function<void(int)> quit_;
    ConfigStore config_;
    VocabStore vocab_;
    std::unique_ptr<HistoryStore> history_;
    StatsStore stats_;
    PressStateMachine stateMachine_{0.3};
    ModelCatalog catalog_;
    std::unique_ptr<SingleInstance> singleInstance_;
    std::unique_ptr<AudioRecorder> recorder_;
    std::unique_ptr<AudioRecorderSamples> samples_;
    std::unique_ptr<SystemQueries> system_;
    std::unique_ptr<TextInjector> injector_;
    std::unique_ptr<Paster> paster_;
    std::unique_ptr<PillPanel> pill_;
    std::unique_ptr<OverlayPanel> overlay_;
    std::unique_ptr<Transcriber> transcriber_;
    std::unique_ptr<HotkeyManager> hotkey_;
    std::unique_ptr<DictationPipeline> pipeline_;
    std::unique_ptr<TrayMenu> tray_;
    std::unique_ptr<SettingsWindows> settings_;
    QTimer autocleanTimer_;
    QTimer warmupTimer_;
    std::optional<bool> taskbarEntry_;
};

}  // namespace quorvel
