#pragma once
// One dictation of the history as a card: play its recording, read the processed or the
// original text, copy it, paste it into the application used before, see its details, delete it.

#include <QFrame>

#include "core/HistoryEntry.h"

class QAbstractButton;
class QLabel;
class QToolButton;

namespace quorvel {

class RecordingPlayer;
class SettingsModel;

class RecordingCard : public QFrame {
    Q_OBJECT
public:
    RecordingCard(HistoryEntry entry, SettingsModel& model, QWidget* parent = nullptr);

    const HistoryEntry& entry() const { return entry_; }
    // The text the card shows: the original when that is chosen, else the processed one.
    QString shownText() const;

    // The lines of the details box.
    static QString detailsText(const HistoryEntry& entry);

private:
    QWidget* buildHeader();
    QWidget* buildActions();
    void togglePlayback();
    void showPlayback();
    void showOriginal(bool original);
    void showDetails();

    HistoryEntry entry_;
    SettingsModel& model_;
    bool original_ = false;
    QToolButton* play_ = nullptr;
    QLabel* position_ = nullptr;
    QLabel* text_ = nullptr;
    RecordingPlayer* player_ = nullptr;  // made on the first play
};

}  // namespace quorvel
