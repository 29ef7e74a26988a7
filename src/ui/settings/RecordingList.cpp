#include "ui/settings/RecordingList.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/settings/RecordingCard.h"

namespace quorvel {

RecordingList::RecordingList(SettingsModel& model, QWidget* parent)
    : QWidget(parent), model_(model), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(8);
}

void RecordingList::setEntries(std::vector<HistoryEntry> entries) {
    std::map<std::string, RecordingCard*> kept;
    for (RecordingCard* card : cards_) {
        layout_->removeWidget(card);
        kept.emplace(card->entry().id, card);
    }
    const std::size_t count = std::min(entries.size(), std::max(cards_.size(), kBatch));
    entries_ = std::move(entries);
    cards_.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const auto found = kept.find(entries_[i].id);
        RecordingCard* card = found != kept.end() ? found->second : new RecordingCard(entries_[i], model_);
        if (found != kept.end()) kept.erase(found);
        layout_->addWidget(card);
        cards_.push_back(card);
    }
    // Later: this may run inside a click on one of these cards (its delete button).
    for (const auto& [id, card] : kept) {
        card->hide();
        card->deleteLater();
    }
    buildMoreIfNearEnd();
}

void RecordingList::followScroll(QScrollArea& scroll) {
    scroll_ = &scroll;
    QScrollBar* bar = scroll.verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, &RecordingList::buildMoreIfNearEnd);
    connect(bar, &QScrollBar::rangeChanged, this, &RecordingList::buildMoreIfNearEnd);
}

void RecordingList::buildUpTo(std::size_t count) {
    for (std::size_t i = cards_.size(); i < std::min(count, entries_.size()); ++i) {
        auto* card = new RecordingCard(entries_[i], model_);
        layout_->addWidget(card);
        cards_.push_back(card);
    }
}

// Queued: the scroll bar's range changes while the layout is being worked out.
void RecordingList::buildMoreIfNearEnd() {
    if (!scroll_ || moreQueued_ || cards_.size() >= entries_.size()) return;
    moreQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        moreQueued_ = false;
        const QScrollBar* bar = scroll_->verticalScrollBar();
        const int bottom = mapTo(scroll_->widget(), QPoint(0, height())).y();
        if (bottom - bar->value() < scroll_->viewport()->height() * 2) buildUpTo(cards_.size() + kBatch);
    });
}

}  // namespace quorvel
