#pragma once
// The program's settings window and first-run panel: made on first use, shown again after that.
// Remembers which window was active before the settings came forward, so a recording card can
// paste back into it. Main thread only.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "ui/settings/WelcomeView.h"

namespace quorvel {

class ConfigStore;
class HistoryStore;
class ModelStore;
class SettingsActions;
class SettingsModel;
class SettingsWindow;
class StatsStore;
class VocabStore;

class SettingsWindows {
public:
    SettingsWindows(ConfigStore& config, VocabStore& vocab, StatsStore& stats, SettingsActions& actions);
    ~SettingsWindows();

    // Shows the settings window (at `section` the first time) with a freshly read history.
    void openSettings(HistoryStore& history, std::optional<int> section);
    void showSection(int section);
    // The program moved to another history store (the recordings folder changed).
    void historyStoreChanged(HistoryStore& history);

    // Shows the first-run panel; the caller wires its buttons. "Готово" closes it for good.
    WelcomeView& showWelcome(std::function<WelcomeView::State()> probe, const QString& recordKey);

    // The window that had the focus before the settings window came forward (0: unknown).
    uintptr_t previousWindow() const { return previousWindow_; }
    SettingsWindow* window() const { return window_.get(); }
    ModelStore& models() { return *models_; }

private:
    ConfigStore& config_;
    VocabStore& vocab_;
    StatsStore& stats_;
    SettingsActions& actions_;
    std::unique_ptr<ModelStore> models_;
    std::unique_ptr<SettingsModel> model_;
    std::unique_ptr<SettingsWindow> window_;
    std::unique_ptr<WelcomeView> welcome_;
    uintptr_t previousWindow_ = 0;
};

}  // namespace quorvel
