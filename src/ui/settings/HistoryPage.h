#pragma once
// The history page of the settings window: every loaded history entry as a recording card
// (built as they scroll into view), their count, and a refresh.

#include "ui/settings/SettingsPage.h"

class QLabel;

namespace quorvel {

class RecordingList;

class HistoryPage : public SettingsPage {
    Q_OBJECT
public:
    explicit HistoryPage(SettingsModel& model, QWidget* parent = nullptr);

private:
    void showHistory();

    QLabel* count_ = nullptr;
    QLabel* empty_ = nullptr;
    RecordingList* list_ = nullptr;
};

}  // namespace quorvel
