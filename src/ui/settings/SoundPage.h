#pragma once
// The sound page of the settings window.

#include "ui/settings/SettingsPage.h"

namespace quorvel {

class SoundPage : public SettingsPage {
    Q_OBJECT
public:
    explicit SoundPage(SettingsModel& model, QWidget* parent = nullptr);
};

}  // namespace quorvel
