#pragma once
// The sound page of the settings window: the cue profile and volume, test buttons, the tick
// while recording and which cues play. Its microphone toggle edits dynamicNormalization, the
// same field as the configuration page's normalisation toggle (named "dynamicNormalization@sound").

#include "ui/settings/SettingsPage.h"

namespace quorvel {

class SoundPage : public SettingsPage {
    Q_OBJECT
public:
    explicit SoundPage(SettingsModel& model, QWidget* parent = nullptr);

    // "80%": the volume × 100 with its fraction dropped.
    static QString volumeCaption(double volume);
};

}  // namespace quorvel
