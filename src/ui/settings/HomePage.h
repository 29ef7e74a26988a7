#pragma once
// The home page of the settings window: other dictation tools that may take the same keys, the
// statistics, the typing test and sharing, and the newest recordings. While shown it refreshes
// itself every few seconds (a dictation made meanwhile shows up).

#include <future>
#include <string>
#include <vector>

#include "ui/settings/SettingsPage.h"

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace quorvel {

class RecordingList;

class HomePage : public SettingsPage {
    Q_OBJECT
public:
    static constexpr std::size_t kRecentCount = 5;
    static constexpr int kRefreshMs = 5000;

    explicit HomePage(SettingsModel& model, QWidget* parent = nullptr);
    ~HomePage() override;

    void pageShown() override;
    void pageHidden() override;

private:
    QFrame* buildConflicts();
    QFrame* buildStats();
    QWidget* buildRecent();
    void refresh();
    void showStats();
    void showHistory();
    void toggleShowAll();
    // pgrep takes a while on a busy machine: it runs on a thread of its own.
    void checkConflicts();
    void showConflicts(const std::vector<std::string>& names);

    QFrame* conflicts_ = nullptr;
    QLabel* conflictNames_ = nullptr;
    QLabel* words_ = nullptr;
    QLabel* wpm_ = nullptr;
    QLabel* apps_ = nullptr;
    QLabel* saved_ = nullptr;
    RecordingList* recent_ = nullptr;
    QLabel* noRecordings_ = nullptr;
    QPushButton* seeAll_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
    std::future<void> conflictCheck_;
};

}  // namespace quorvel
