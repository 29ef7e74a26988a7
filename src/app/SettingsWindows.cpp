#include "app/SettingsWindows.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include "platform/FloatingWindowHints.h"
#include "services/Log.h"
#include "services/ModelStore.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/SettingsWindow.h"

namespace quorvel {
namespace {

void centre(QWidget& window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

}  // namespace

SettingsWindows::SettingsWindows(ConfigStore& config, VocabStore& vocab, StatsStore& stats, SettingsActions& actions)
    : config_(config), vocab_(vocab), stats_(stats), actions_(actions), models_(std::make_unique<ModelStore>()) {}

SettingsWindows::~SettingsWindows() = default;

void SettingsWindows::openSettings(HistoryStore& history, std::optional<int> section) {
    // Asked before our window is shown: afterwards the active window is ours.
    const uintptr_t active = FloatingWindowHints::activeWindow();
    if (!window_ || active != window_->winId()) previousWindow_ = active;
    if (!window_) {
        model_ = std::make_unique<SettingsModel>(config_, vocab_, history, stats_, *models_, actions_);
        window_ = std::make_unique<SettingsWindow>(*model_, section);
        centre(*window_);
    }
    window_->present();
    Log::info("окно настроек показано");
}

void SettingsWindows::showSection(int section) {
    if (window_) window_->showSection(section);
}

void SettingsWindows::historyStoreChanged(HistoryStore& history) {
    if (model_) model_->setHistoryStore(history);
}

WelcomeView& SettingsWindows::showWelcome(std::function<WelcomeView::State()> probe, const QString& recordKey) {
    welcome_ = std::make_unique<WelcomeView>(std::move(probe), recordKey);
    welcome_->setAttribute(Qt::WA_QuitOnClose, false);
    welcome_->onOpenSystemSettings = [this](SystemSettings::Permission permission) {
        actions_.openSystemSettings(permission);
    };
    welcome_->onDone = [this] {
        // Not from inside the panel's own button handler.
        QTimer::singleShot(0, [this] { welcome_.reset(); });
    };
    welcome_->adjustSize();
    centre(*welcome_);
    welcome_->show();
    welcome_->raise();
    welcome_->activateWindow();
    Log::info("welcome-панель показана, onboarded=true");
    return *welcome_;
}

}  // namespace quorvel
