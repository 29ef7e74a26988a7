#pragma once
// The home page of the settings window.

#include "ui/settings/SettingsPage.h"

namespace quorvel {

class HomePage : public SettingsPage {
    Q_OBJECT
public:
    explicit HomePage(SettingsModel& model, QWidget* parent = nullptr);
};

}  // namespace quorvel
