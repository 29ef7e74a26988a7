#pragma once
// The history page of the settings window.

#include "ui/settings/SettingsPage.h"

namespace quorvel {

class HistoryPage : public SettingsPage {
    Q_OBJECT
public:
    explicit HistoryPage(SettingsModel& model, QWidget* parent = nullptr);
};

}  // namespace quorvel
