#pragma once
// History entries as recording cards, one under the other. Cards are built in batches as the
// list scrolls into view, so hundreds of entries show at once; when the entries change, the
// cards of entries still listed are kept (a recording that plays goes on playing).

#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "core/HistoryEntry.h"

class QScrollArea;
class QVBoxLayout;

namespace quorvel {

class RecordingCard;
class SettingsModel;

class RecordingList : public QWidget {
    Q_OBJECT
public:
    static constexpr std::size_t kBatch = 20;

    explicit RecordingList(SettingsModel& model, QWidget* parent = nullptr);

    void setEntries(std::vector<HistoryEntry> entries);
    // Builds the next batch whenever the end of the list comes near the bottom of `scroll`.
    void followScroll(QScrollArea& scroll);

    std::size_t entryCount() const { return entries_.size(); }
    // How many entries have their card built so far.
    std::size_t cardCount() const { return cards_.size(); }

private:
    void buildUpTo(std::size_t count);
    void buildMoreIfNearEnd();

    SettingsModel& model_;
    QVBoxLayout* layout_;
    QScrollArea* scroll_ = nullptr;
    std::vector<HistoryEntry> entries_;
    std::vector<RecordingCard*> cards_;  // the first cards_.size() entries, in order
    bool moreQueued_ = false;
};

}  // namespace quorvel
