#pragma once
// One catalog model on the models page: favourite star, name, languages, size and state, and
// the actions that fit the state (download or cancel, select, delete), with a running
// download's progress and the reason of a failed one.

#include <QFrame>
#include <QString>

#include "core/ModelCatalog.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace quorvel {

class SettingsModel;

class ModelRow : public QFrame {
    Q_OBJECT
public:
    ModelRow(SettingsModel& model, STTModel entry, QWidget* parent = nullptr);

    const STTModel& entry() const { return entry_; }
    bool isFavourite() const;
    // The search text occurs in the name, languages, type or id (any case).
    bool matches(const QString& search) const;

    // Shows the model's state anew; `active`: the next dictation uses it.
    void refresh(bool active);
    // A running download's progress: bytes fetched so far, or finished steps.
    void showReceived(qint64 bytes);
    void showSteps(int done, int total);
    // Why the last download failed (empty clears it).
    void showFailure(const QString& error);

private:
    void build();
    void toggleFavourite();
    void useThisModel();
    void askRemoval();

    SettingsModel& model_;
    STTModel entry_;
    QToolButton* star_ = nullptr;
    QLabel* state_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* failure_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* select_ = nullptr;
    QPushButton* delete_ = nullptr;
};

}  // namespace quorvel
