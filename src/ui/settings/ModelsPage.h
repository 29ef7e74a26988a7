#pragma once
// The models page of the settings window.

#include "ui/settings/SettingsPage.h"

namespace quorvel {

class ModelsPage : public SettingsPage {
    Q_OBJECT
public:
    explicit ModelsPage(SettingsModel& model, QWidget* parent = nullptr);
};

}  // namespace quorvel
