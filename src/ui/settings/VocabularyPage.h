#pragma once
// The vocabulary page of the settings window.

#include "ui/settings/SettingsPage.h"

namespace quorvel {

class VocabularyPage : public SettingsPage {
    Q_OBJECT
public:
    explicit VocabularyPage(SettingsModel& model, QWidget* parent = nullptr);
};

}  // namespace quorvel
