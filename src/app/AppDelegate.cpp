#include "app/AppDelegate.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QPointer>
#include <unistd.h>

#include "app/AppServices.h"
#include "app/DictationPipeline.h"
#include "app/HeadlessRunner.h"
#include "app/Housekeeping.h"
#include "app/SampleRecorder.h"
#include "app/SettingsWindows.h"
#include "app/TrayMenu.h"
#include "core/AppPaths.h"
#include "core/HistoryStore.h"
#include "core/ModeRules.h"
#include "core/WorkerPrefs.h"
#include "platform/AudioRecorder.h"
#include "platform/FloatingWindowHints.h"
#include "platform/HotkeyManager.h"
#include "platform/LaunchAtLogin.h"
#include "platform/Paster.h"
#include "platform/SingleInstance.h"
#include "platform/SoundPlayer.h"
#include "platform/SystemQueries.h"
#include "platform/SystemSettings.h"
#include "platform/TextInjector.h"
#include "services/Log.h"
#include "services/MainDispatcher.h"
#include "services/OllamaPunctuate.h"
#include "services/Transcriber.h"
#include "ui/BarsIndicatorView.h"
#include "ui/OverlayPanel.h"
#include "ui/PillPanel.h"
#include "ui/Theme.h"
#include "ui/UiTexts.h"
#include "ui/settings/SettingsWindow.h"

namespace quorvel {
namespace {

constexpr int kSecondCopyExitMs = 250;
constexpr int kAutocleanMs = 3600 * 1000;
constexpr int kWarmupFirstMs = 2000;
constexpr int kWarmupEveryMs = 600 * 1000;
constexpr int kRefocusMs = 150;
constexpr const char* kBuiltInModel = "pocketsphinx-en-us";

std::filesystem::path recordingsFolder(const AppConfig& config) {
    return config.recordingsFolder ? std::filesystem::path(*config.recordingsFolder) : AppPaths::recordingsDir();
}

}  // namespace

AppDelegate::AppDelegate()
    : config_(AppPaths::configURL()),
      vocab_(AppPaths::vocabURL()),
      history_(std::make_unique<HistoryStore>(AppPaths::historyURL(), recordingsFolder(config_.config()))),
      stats_(AppPaths::statsURL()) {}

AppDelegate::~AppDelegate() {
    // The pipeline refers to everything else: it goes first.
    pipeline_.reset();
    // The recorder outlives the pill it reports to.
    if (recorder_) {
        recorder_->onLevel = {};
        recorder_->onSamples = {};
    }
    SoundPlayer::setConfigProvider({});
}

void AppDelegate::start(std::function<void(int)> quit) {
    quit_ = std::move(quit);
    Log::info("=== Tovik запущен ===");
    if (handOverToRunningCopy()) return;
    Log::info("MainDispatcher активен (plain gcd dispatch)");

    createDictationParts(SystemQueries::createDefault());
    wireRecorder();
    wirePill();
    wireHotkeys();
    const AppConfig& config = config_.config();
    pill_->updateTooltips(UiTexts::keyLabel(config.keyToggle), UiTexts::keyLabel(config.keyMode));
    SoundPlayer::setConfigProvider([this] {
        return SoundPlayer::Settings{config_.config().soundProfile, config_.config().soundVolume};
    });
    setupStatusItem();
    showPill();

    Housekeeping::migrateStatsIfNeeded(stats_, history());
    applyConfigToRuntime();
    refreshMenu();
    scheduleAutoclean();
    schedulePunctWarmup();
    Log::info("готов. Хоткей: " + config_.config().keyToggle.displayName() + " (push/toggle), Esc — отмена");
    openSettings();
    showWelcomeIfNeeded();
    askForMicrophoneIfUndetermined();
}

void AppDelegate::createDictationParts(std::unique_ptr<SystemQueries> system) {
    recorder_ = std::make_unique<AudioRecorder>();
    samples_ = std::make_unique<AudioRecorderSamples>(*recorder_);
    system_ = std::move(system);
    injector_ = TextInjector::createDefault();
    paster_ = std::make_unique<Paster>(*injector_, *system_);
    pill_ = std::make_unique<PillPanel>();
    createTranscriber();
    pipeline_ = std::make_unique<DictationPipeline>(
        PipelineParts{config_, vocab_, [this]() -> HistoryStore& { return history(); }, stats_, stateMachine_,
                      *samples_, *pill_, [this] { return transcriber_.get(); }, *paster_, *system_, catalog_},
        PipelineHooks{.setTrayIcon = [this](bool recording) { if (tray_) tray_->setRecording(recording); },
                      .refreshMenu = [this] { refreshMenu(); },
                      .applyDockPolicy = [this] { applyDockPolicy(); },
                      .requestMicrophoneAccess = {},
                      .quit = [this] { quit_(0); }});
}

bool AppDelegate::handOverToRunningCopy() {
    singleInstance_ = std::make_unique<SingleInstance>();
    const auto role = singleInstance_->start();
    if (role == SingleInstance::Role::secondary) {
        const auto pid = singleInstance_->primaryPid();
        Log::warn("другой экземпляр уже запущен (pid " + (pid ? std::to_string(*pid) : std::string("?")) +
                  ") — активирую его и выхожу");
        QTimer::singleShot(kSecondCopyExitMs, this, [this] { quit_(0); });
        return true;
    }
    // Without the socket we cannot tell; running is better than refusing to start.
    if (role == SingleInstance::Role::failed) Log::warn("single instance: cannot take the name, running anyway");
    singleInstance_->onMessage = [this](const std::string& message) {
        if (message != SingleInstance::kComeToFront) return;
        // Coming forward: the settings window, as on a launch.
        openSettings();
    };
    return false;
}

void AppDelegate::createTranscriber() {
    transcriber_ = std::make_unique<Transcriber>(config_.config().pythonPath,
                                                 [this] { return workerPrefs(config_.config(), catalog_); });
    transcriber_->onStateChange = [this](Transcriber::State state) {
        Log::info(std::string("STT state → ") + Transcriber::rawValue(state));
        refreshMenu();
    };
}

void AppDelegate::wireRecorder() {
    recorder_->onSamples = [this](const std::vector<float>& samples) { pill_->pushSamples(samples); };
    recorder_->onLevel = [this](float level) { pill_->bars().pushLevel(level); };
}

void AppDelegate::wirePill() {
    pill_->onMoveEnd = [this](const QRect& frame) {
        config_.update([&](AppConfig& c) {
            c.pillPosX = frame.x();
            c.pillPosY = frame.y();
        });
        config_.save();
    };
    pill_->onRecord = [this] { pipeline_->recordOrStop(); };
    pill_->onCancel = [this] { pipeline_->cancelIfRecording(); };
    pill_->onModeTap = [this] { cycleMode(); };
}

void AppDelegate::wireHotkeys() {
    hotkey_ = std::make_unique<HotkeyManager>();
    applyHotkeys();
    if (!hotkey_->startTap()) hotkey_->startGlobalMonitorFallback();

    hotkey_->onToggleDown = [this] { pipeline_->pressDown(); };
    hotkey_->onToggleUp = [this](double seconds) { pipeline_->pressUp(seconds); };
    hotkey_->onCancel = [this] {
        if (pill_->state() == PillState::expanded && stateMachine_.state().isIdle())
            return pill_->setState(PillState::collapsed);
        pipeline_->cancelIfRecording();
    };
    hotkey_->onChangeMode = [this] { cycleMode(); };
    hotkey_->onModeShortcut = [this](const std::string& modeId) { selectModeAndRecord(modeId); };
}

void AppDelegate::applyHotkeys() {
    if (!hotkey_) return;
    const AppConfig& config = config_.config();
    std::vector<ModeShortcut> shortcuts;
    for (const auto& mode : config.modes)
        if (mode.shortcut) shortcuts.push_back({*mode.shortcut, mode.id});
    hotkey_->setCombos(config.keyToggle, config.keyCancel, config.keyMode, std::move(shortcuts));
}

void AppDelegate::selectModeAndRecord(const std::string& modeId) {
    config_.update([&](AppConfig& c) { c.activeModeID = modeId; });
    config_.save();
    pill_->showWithoutActivating();
    pill_->appendText(QString::fromStdString("Режим: " + ModeRules::activeMode(config_.config()).name));
    pipeline_->pressDown();
}

void AppDelegate::cycleMode() {
    const auto mode = ModeRules::cycleMode(config_);
    if (!mode) return;
    pill_->setModeName(QString::fromStdString(mode->name));
    pill_->showWithoutActivating();
    pill_->appendText(QString::fromStdString("Режим: " + mode->name));
    refreshMenu();
    Log::info("режим → " + mode->name);
}

void AppDelegate::setupStatusItem() {
    tray_ = std::make_unique<TrayMenu>(TrayMenu::Actions{
        .start = [this] { pipeline_->pressDown(); },
        .stop = [this] { pipeline_->stopIfRecording(); },
        .cancel = [this] { pipeline_->cancelIfRecording(); },
        .togglePill = [this] {
            pill_->showWithoutActivating();
            pill_->setState(pill_->state() == PillState::expanded ? PillState::collapsed : PillState::expanded);
        },
        .openSettings = [this] { openSettings(); },
        .about = [this] { AppServices::showAbout(config_.config()); },
        .recognizeFile = [this] { pipeline_->chooseAndRecognizeFile(); },
        .restartWorker = [this] { restartWorker(); },
        .quit = [this] { quit_(0); },
        .openMicrophoneSettings = [this] { openSystemSettings(SystemSettings::Permission::microphone); },
        .openListenSettings = [this] { openSystemSettings(SystemSettings::Permission::inputMonitoring); },
        .openAccessibilitySettings = [this] { openSystemSettings(SystemSettings::Permission::accessibility); },
        // No desktop asks for key-listening access: its settings page is as close as it gets.
        .requestListen = [] { SystemSettings::open(SystemSettings::Permission::inputMonitoring); },
        .clicked = [this] { statusItemClicked(); }});
    // Permissions and states are looked up afresh every time the menu opens.
    connect(&tray_->menu(), &QMenu::aboutToShow, this, [this] { refreshMenu(); });
    if (!tray_->available()) {
        Log::warn("системный трей недоступен: меню — по правому щелчку на пилюле");
        pill_->trayMenu = [this] { return &tray_->menu(); };
        return;
    }
    tray_->show();
}

void AppDelegate::statusItemClicked() {
    if (!config_.config().startRecordingOnMenubarClick) return tray_->popUp();
    if (!stateMachine_.state().isIdle()) return pipeline_->stopIfRecording();
    pipeline_->pressDown();
}

void AppDelegate::refreshMenu() {
    if (!tray_ || !pipeline_) return;
    applyDockPolicy();
    const auto context = stateMachine_.context();
    const std::string modelId = config_.config().sttModelID;
    const auto model = ModelCatalog::model(modelId);
    tray_->update(TrayMenu::State{
        .recording = context.has_value(),
        .toggle = context == PressStateMachine::Context::toggle,
        .modelName = model ? model->name : modelId,
        .workerState = transcriber_ ? Transcriber::rawValue(transcriber_->state()) : "?",
        .microphone = system_->microphoneAuthorization() == MicrophoneAuthorization::authorized,
        .listen = system_->inputMonitoringGranted(),
        .accessibility = system_->accessibilityTrusted()});
}

void AppDelegate::showPill() {
    const AppConfig& config = config_.config();
    pill_->setModeName(QString::fromStdString(ModeRules::activeMode(config).name));
    pill_->applySavedPosition(config.pillPosX, config.pillPosY);
    pill_->setState(PillState::collapsed);
    pill_->showWithoutActivating();
}

void AppDelegate::applyConfigToRuntime() {
    const AppConfig& config = config_.config();
    if (!overlay_) overlay_ = std::make_unique<OverlayPanel>();
    overlay_->style = OverlayPanel::styleFromString(config.overlayStyle);
    overlay_->alwaysShow = config.overlayAlwaysShow;
    overlay_->followCursor = config.overlayFollowCursor;
    Theme::apply(config.theme);
    if (transcriber_) transcriber_->setPythonPath(config.pythonPath);
    pill_->updateTooltips(UiTexts::keyLabel(config.keyToggle), UiTexts::keyLabel(config.keyMode));
    applyDockPolicy();
}

void AppDelegate::configChanged() {
    applyConfigToRuntime();
    refreshRecordingsFolderIfNeeded();
    applyHotkeys();
    refreshMenu();
}

void AppDelegate::refreshRecordingsFolderIfNeeded() {
    const std::filesystem::path folder = recordingsFolder(config_.config());
    if (folder == history_->recordingsDir()) return;
    auto moved = std::make_unique<HistoryStore>(AppPaths::historyURL(), folder);
    // The window lets go of the old store before it goes.
    if (settings_) settings_->historyStoreChanged(*moved);
    history_ = std::move(moved);
    Log::info("папка записей: " + folder.string());
}

void AppDelegate::applyDockPolicy() {
    // The pill is the program's window: with a taskbar entry it can be found while a permission
    // is missing (or when the user asks for it).
    const bool wanted = Housekeeping::wantsTaskbarEntry(config_.config(), *system_);
    if (pill_) pill_->setTaskbarEntry(wanted);
    if (wanted == taskbarEntry_) return;
    taskbarEntry_ = wanted;
    Log::info(std::string("панель задач: ") + (wanted ? "regular" : "accessory"));
}

std::string AppDelegate::checkForUpdates() { return AppServices::checkForUpdates(); }

bool AppDelegate::launchOnLogin() { return LaunchAtLogin::isEnabled(); }

bool AppDelegate::setLaunchOnLogin(bool enabled) { return AppServices::setLaunchOnLogin(enabled); }

void AppDelegate::runTypingTest() { AppServices::runTypingTest(config_); }

void AppDelegate::shareStats() { AppServices::shareStats(stats_, history()); }

void AppDelegate::restartWorker() {
    if (transcriber_) transcriber_->restart();
}

void AppDelegate::openSystemSettings(SystemSettings::Permission permission) { SystemSettings::open(permission); }

void AppDelegate::pasteToPreviousApp(const std::string& text) {
    const uintptr_t target = settings_ ? settings_->previousWindow() : 0;
    if (target == 0) {
        // Nowhere known to paste into: the text waits on the clipboard.
        QApplication::clipboard()->setText(QString::fromStdString(text));
        return;
    }
    FloatingWindowHints::activate(target);
    // The window manager hands the focus over asynchronously; the paste waits for it a moment.
    QTimer::singleShot(kRefocusMs, this, [this, text] {
        const AppConfig& config = config_.config();
        paster_->paste(text, config.restoreClipboard, config.simulateKeypresses, false);
    });
}

void AppDelegate::scheduleAutoclean() {
    autocleanTimer_.stop();
    autocleanTimer_.setInterval(kAutocleanMs);
    autocleanTimer_.disconnect();
    connect(&autocleanTimer_, &QTimer::timeout, this,
            [this] { Housekeeping::runAutoclean(history(), config_.config().keepRecordings); });
    autocleanTimer_.start();
    Housekeeping::runAutoclean(history(), config_.config().keepRecordings);
}

void AppDelegate::schedulePunctWarmup() {
    if (!config_.config().punctRestore) return;
    auto warmUp = [this] {
        if (!config_.config().punctRestore) return;
        const auto started = std::chrono::steady_clock::now();
        OllamaPunctuate::run("привет как дела", config_.config(), [started](const std::optional<std::string>&) {
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
            char line[64];
            std::snprintf(line, sizeof line, "punct warm-up: %.2f s", elapsed.count());
            Log::info(line);
        });
    };
    QTimer::singleShot(kWarmupFirstMs, this, warmUp);
    warmupTimer_.setInterval(kWarmupEveryMs);
    connect(&warmupTimer_, &QTimer::timeout, this, warmUp);
    warmupTimer_.start();
}

void AppDelegate::openSettings() {
    if (!settings_) settings_ = std::make_unique<SettingsWindows>(config_, vocab_, stats_, *this);
    std::optional<int> section;
    if (const auto value = HeadlessRunner::parseInteger(qEnvironmentVariable("QUORVEL_SETTINGS_SECTION").toStdString()))
        section = static_cast<int>(*value);
    settings_->openSettings(history(), section);
}

void AppDelegate::showWelcomeIfNeeded() {
    if (config_.config().onboarded) return;
    config_.update([](AppConfig& c) { c.onboarded = true; });
    config_.save();
    if (!settings_) settings_ = std::make_unique<SettingsWindows>(config_, vocab_, stats_, *this);
    WelcomeView& welcome = settings_->showWelcome([this] { return welcomeState(); },
                                                  UiTexts::keyLabel(config_.config().keyToggle));
    welcome.onOpenSettings = [this] { openSettings(); };
    welcome.onOpenModels = [this] {
        openSettings();
        settings_->showSection(SettingsWindow::models);
    };
    welcome.onUseBuiltInModel = [this] { useModel(kBuiltInModel); };
}

WelcomeView::State AppDelegate::welcomeState() {
    const std::string id = chosenModelID(config_.config());
    const auto model = ModelCatalog::model(id);
    return {.microphone = system_->microphoneAuthorization() == MicrophoneAuthorization::authorized,
            .listen = system_->inputMonitoringGranted(),
            .accessibility = system_->accessibilityTrusted(),
            .modelName = model ? model->name : id,
            .modelInstalled = workerPrefs(config_.config(), catalog_).has_value()};
}

void AppDelegate::useModel(const std::string& id) {
    // The active mode's own model decides a dictation; the global one names it in the menu.
    const std::string activeId = ModeRules::activeMode(config_.config()).id;
    config_.update([&](AppConfig& c) {
        c.sttModelID = id;
        for (auto& mode : c.modes)
            if (mode.id == activeId) mode.sttModelID = id;
    });
    config_.save();
    configChanged();
}

void AppDelegate::askForMicrophoneIfUndetermined() {
    if (system_->microphoneAuthorization() != MicrophoneAuthorization::notDetermined) return;
    // Desktop Linux has no prompt to show: the status is all the answer there is.
    const bool granted = system_->microphoneAuthorization() == MicrophoneAuthorization::authorized;
    Log::info(std::string("микрофон: авто-запрос → ") + (granted ? "разрешён" : "отклонён"));
    refreshMenu();
    applyDockPolicy();
}

}  // namespace quorvel
