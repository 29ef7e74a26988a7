#pragma once
// The configuration page of the settings window: look, recording window, hot keys, program
// behaviour, audio processing, text input and advanced settings. Every control edits one
// configuration field (named after it, see SettingsForm.h) except the update check and launch at
// login, which go to the running program.

#include <string>
#include <vector>

#include "ui/settings/SettingsPage.h"

class QLabel;

namespace quorvel {

class ConfigurationPage : public SettingsPage {
    Q_OBJECT
public:
    explicit ConfigurationPage(SettingsModel& model, QWidget* parent = nullptr);

    void pageShown() override;

    // "Запущены: a, b — возможен конфликт клавиш, смените кнопку."; empty when nothing runs.
    static QString conflictText(const std::vector<std::string>& names);

private:
    QWidget* lookSection();
    QWidget* recordingWindowSection();
    QWidget* shortcutsSection();
    QWidget* applicationSection();
    QWidget* audioSection();
    QWidget* textInputSection();
    QWidget* advancedSection();
    QWidget* recordingsFolderRow();
    void chooseRecordingsFolder();
    void showConflicts();
    void showRecordingsFolder();

    QLabel* conflicts_ = nullptr;
    QLabel* folder_ = nullptr;
    QLabel* folderProblem_ = nullptr;
};

}  // namespace quorvel
