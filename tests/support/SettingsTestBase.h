#pragma once
// Widget tests of the settings window start from here: the program's stores in the test's
// temporary HOME, a model store, the settings model, and program services that record what the
// window asked of them.

#include <memory>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/L10n.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "services/ModelStore.h"
#include "support/TempHome.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel::testing {

struct RecordedSettingsActions : SettingsActions {
    int configChanges = 0;
    int workerRestarts = 0;
    bool loginEntry = false;
    std::vector<std::string> calls;  // "runTypingTest", "shareStats", "paste <text>"

    void configChanged() override { ++configChanges; }
    void runTypingTest() override { calls.push_back("runTypingTest"); }
    void shareStats() override { calls.push_back("shareStats"); }
    std::string checkForUpdates() override { return "Установлена последняя версия"; }
    bool launchOnLogin() override { return loginEntry; }
    bool setLaunchOnLogin(bool enabled) override { return loginEntry = enabled; }
    void pasteToPreviousApp(const std::string& text) override { calls.push_back("paste " + text); }
    void restartWorker() override { ++workerRestarts; }
    void openSystemSettings(SystemSettings::Permission) override {}
};

class SettingsTest : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        L10n::setLanguage("ru");
        config = std::make_unique<ConfigStore>(AppPaths::configURL());
        vocab = std::make_unique<VocabStore>(AppPaths::vocabURL());
        history = std::make_unique<HistoryStore>(AppPaths::historyURL(), AppPaths::recordingsDir());
        stats = std::make_unique<StatsStore>(AppPaths::statsURL());
        models = makeModelStore();
        model = std::make_unique<SettingsModel>(*config, *vocab, *history, *stats, *models, actions);
    }
    void TearDown() override {
        model.reset();
        models.reset();
        TempHome::TearDown();
    }
    // Tests of downloads point theirs at a local server.
    virtual std::unique_ptr<ModelStore> makeModelStore() { return std::make_unique<ModelStore>(); }

    RecordedSettingsActions actions;
    std::unique_ptr<ConfigStore> config;
    std::unique_ptr<VocabStore> vocab;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<StatsStore> stats;
    std::unique_ptr<ModelStore> models;
    std::unique_ptr<SettingsModel> model;
};

}  // namespace quorvel::testing
