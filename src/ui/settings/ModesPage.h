#pragma once
// The modes page of the settings window.

#include "ui/settings/SettingsPage.h"

namespace quorvel {

class ModesPage : public SettingsPage {
    Q_OBJECT
public:
    explicit ModesPage(SettingsModel& model, QWidget* parent = nullptr);
};

}  // namespace quorvel
