#pragma once
// The configuration page of the settings window.

#include "ui/settings/SettingsPage.h"

namespace quorvel {

class ConfigurationPage : public SettingsPage {
    Q_OBJECT
public:
    explicit ConfigurationPage(SettingsModel& model, QWidget* parent = nullptr);
};

}  // namespace quorvel
