// The home and history pages over real stores in a temporary home: the statistics figures, the
// other-tools warning (and the configuration page's) with a real process, recording cards (text
// switch, copy, paste, details, which recordings can play), deleting in the background, "see all"
// and lazily built cards.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/FileLock.h"
#include "core/HistoryStore.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "core/WavWriter.h"
#include "services/ModelStore.h"
#include "support/SettingsTestBase.h"
#include "ui/settings/ConfigurationPage.h"
#include "ui/settings/HistoryPage.h"
#include "ui/settings/HomePage.h"
#include "ui/settings/RecordingCard.h"
#include "ui/settings/RecordingList.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel {
namespace {

class HomeHistoryTest : public testing::SettingsTest {
  protected:
    // A second of silence as the program saves it in the recordings folder; its full path.
    std::string recording(const std::string& name) const {
        const std::vector<float> samples(16'000, 0.0f);
        EXPECT_FALSE(WavWriter::write(samples, 16'000, history->recordingsDir() / name));
        return (history->recordingsDir() / name).string();
    }

    // In the order they were made: newest first on a fresh page.
    static QList<RecordingCard*> cards(QWidget& page) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return page.findChildren<RecordingCard*>();
    }
    static QString text(QWidget& page, const char* name) {
        return page.findChild<QLabel*>(name)->text();
    }
};

TEST_F(HomeHistoryTest, HomeShowsStatisticsAndRefreshes) {
    HomePage home(*model);
    EXPECT_EQ(text(home, "statWpm"), "—");
    EXPECT_FALSE(home.findChild<QLabel*>("noRecordings")->isHidden());

    // 2 400 words; dictation speeds 150 and 200 wpm (the other figures are the stores' tests').
    stats->recordSessions({{1200, "kate"}, {1100, "firefox"}, {100, "kate"}});
    history->append({.text = QString("w ").repeated(10).toStdString(), .durationMs = 4000});
    history->append({.text = QString("w ").repeated(20).toStdString(), .durationMs = 6000});
    model->reloadHistory();
    EXPECT_EQ(text(home, "statWords"), "2400");
    EXPECT_EQ(text(home, "statWpm"), "175.0");
    EXPECT_TRUE(home.findChild<QLabel*>("noRecordings")->isHidden());
    EXPECT_EQ(cards(home).size(), 2);

    // While shown the page looks again every few seconds, and reads the history only when its
    // file changed: a long history would keep the window busy parsing the same lines.
    QSignalSpy reloads(model.get(), &SettingsModel::historyChanged);
    home.findChild<QTimer*>("refreshTimer")->setInterval(10);
    home.pageShown();
    QTest::qWait(100);
    EXPECT_EQ(reloads.count(), 0);
    history->append({.text = "three"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return cards(home).size() == 3; }));
    home.pageHidden();

    home.findChild<QPushButton*>("typingTestButton")->click();
    home.findChild<QPushButton*>("shareStatsButton")->click();
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"runTypingTest", "shareStats"}));
}

// A running process named like a dictation tool raises the warning on the home and the
// configuration page (the real pgrep, off the main thread, case-insensitive), and only while it
// runs.
TEST_F(HomeHistoryTest, PagesWarnOfOtherDictationToolsWhileTheyRun) {
    const auto tool = home() / "SuperWhisper";
    std::filesystem::copy_file("/bin/sleep", tool);
    QProcess process;
    process.start(QString::fromStdString(tool.string()), {"30"});
    ASSERT_TRUE(process.waitForStarted());

    HomePage home(*model);
    ConfigurationPage configuration(*model);
    auto* card = home.findChild<QWidget*>("conflictsCard");
    auto* keysWarning = configuration.findChild<QLabel*>("conflicts");
    const auto look = [&] {
        home.pageShown();
        QSignalSpy found(model.get(), &SettingsModel::conflictsFound);
        configuration.pageShown();
        return found.wait(10000);
    };
    ASSERT_TRUE(look());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !card->isHidden(); }, 5000));
    EXPECT_TRUE(text(home, "conflictNames").contains("superwhisper, whisper."));
    EXPECT_FALSE(keysWarning->isHidden());

    process.kill();
    process.waitForFinished();
    ASSERT_TRUE(look());
    EXPECT_TRUE(QTest::qWaitFor([&] { return card->isHidden(); }, 5000))
        << "gone once the tool quits";
    EXPECT_TRUE(keysWarning->isHidden());
}

TEST_F(HomeHistoryTest, CardsShowTextPlayabilityAndActions) {
    writeFile(history->recordingsDir() / "broken.wav", "RIFF....WAVEjunk");
    recording("b.wav");
    const std::string played = recording("a.wav");
    // Twenty megabytes at 1 kHz would decode to 160 million samples, on the main thread.
    ASSERT_FALSE(WavWriter::write(std::vector<float>(10'000'000), 1000,
                                  history->recordingsDir() / "slow.wav"));
    // Entries and whether they can play; only the first has an original text to switch to.
    const std::pair<HistoryEntry, bool> rows[]{
        {{.text = "Привет, мир.", .originalText = "привет мир", .audioPath = played}, true},
        // A name alone is taken within the recordings folder.
        {{.text = "same", .originalText = "same", .audioPath = "b.wav"}, true},
        {{.text = "no file", .audioPath = "missing.wav"}, false},
        {{.text = "broken", .audioPath = "broken.wav"}, false},
        {{.text = "slow", .audioPath = "slow.wav"}, false},
        {{.text = "device", .audioPath = "/dev/zero"}, false},
        {{.text = "no audio"}, false},
    };
    for (const auto& [entry, canPlay] : rows) {
        SCOPED_TRACE(entry.text);
        RecordingCard card(entry, *model);
        auto* shown = card.findChild<QLabel*>("cardText");
        EXPECT_EQ(shown->text().toStdString(), entry.text);
        EXPECT_EQ(card.findChild<QToolButton*>("playButton")->isEnabled(), canPlay);
        auto* original = card.findChild<QToolButton*>("originalButton");
        EXPECT_EQ(original != nullptr, &entry == &rows[0].first);
        if (!original) continue;
        original->click();
        EXPECT_EQ(shown->text().toStdString(), *entry.originalText);
        card.findChild<QToolButton*>("copyButton")->click();
        EXPECT_EQ(QApplication::clipboard()->text().toStdString(), *entry.originalText);
        card.findChild<QToolButton*>("processedButton")->click();
        card.findChild<QToolButton*>("pasteButton")->click();
        EXPECT_EQ(actions.calls.back(), "paste " + entry.text);
    }

    // A megabyte of emoji, right-to-left and combining text: the card shows its start (a whole
    // label takes minutes to lay out), cut between characters; copy takes all of it.
    QString longText;
    while (longText.size() < (1 << 20))
        longText += QString::fromUtf8("Привет 👋🏽 שלום e\u0301\u0301 ");
    RecordingCard longCard({.text = longText.toStdString()}, *model);
    const QString start = longCard.findChild<QLabel*>("cardText")->text();
    EXPECT_LT(start.size(), 2000);
    EXPECT_TRUE(start.endsWith(QStringLiteral("…")));
    EXPECT_TRUE(longText.startsWith(start.chopped(1)));
    EXPECT_FALSE(start.chopped(1).back().isHighSurrogate());
    longCard.findChild<QToolButton*>("copyButton")->click();
    EXPECT_EQ(QApplication::clipboard()->text(), longText);
    // Runs without a space, in the text or a mode's name, wrap instead of widening the page.
    RecordingCard wide({.text = std::string(1400, 'W'), .modeName = std::string(10'000, 'M')},
                       *model);
    EXPECT_LT(wide.minimumSizeHint().width(), 600);
    wide.findChild<QToolButton*>("detailsButton")->click();
    EXPECT_LT(wide.findChild<QMessageBox*>("detailsBox")->sizeHint().width(), 1000);
}

// The card goes at once; the history file is rewritten on another thread, which here waits for
// the file's lock: the window goes on meanwhile, and a reload does not bring the entry back.
TEST_F(HomeHistoryTest, DeletingLeavesAtOnceAndRemovesEntryAndAudioInBackground) {
    const HistoryEntry kept{.text = "kept", .audioPath = recording("kept.wav")};
    const HistoryEntry gone{.text = "gone", .audioPath = recording("gone.wav")};
    history->append(kept);
    history->append(gone);
    model->reloadHistory();
    HistoryPage page(*model);
    ASSERT_EQ(cards(page).size(), 2);

    auto lock = std::make_unique<FileLock>(history->url());
    cards(page).front()->findChild<QToolButton*>("deleteButton")->click();
    ASSERT_EQ(cards(page).size(), 1);
    EXPECT_EQ(cards(page).front()->entry().id, kept.id);
    page.findChild<QPushButton*>("refreshButton")->click();
    EXPECT_EQ(cards(page).size(), 1) << "a removal under way stays hidden from reloads";
    EXPECT_TRUE(model->removalsPending());

    lock.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->removalsPending(); }, 10'000));
    const auto left = history->read(10);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left.front().id, kept.id);
    EXPECT_FALSE(std::filesystem::exists(history->recordingsDir() / "gone.wav"));
    EXPECT_TRUE(std::filesystem::exists(history->recordingsDir() / "kept.wav"));
}

TEST_F(HomeHistoryTest, SeeAllTogglesAndLongHistoriesBuildCardsAsTheyScroll) {
    for (int i = 0; i < 300; ++i) history->append({.text = "entry " + std::to_string(i)});
    model->reloadHistory();

    HomePage home(*model);
    auto* seeAll = home.findChild<QPushButton*>("seeAllButton");
    auto* recent = home.findChild<RecordingList*>("recentList");
    EXPECT_EQ(recent->entryCount(), HomePage::kRecentCount);
    EXPECT_EQ(cards(home).front()->entry().text, "entry 299") << "newest first";
    seeAll->click();
    EXPECT_EQ(recent->entryCount(), 300u);
    seeAll->click();
    EXPECT_EQ(recent->entryCount(), HomePage::kRecentCount);

    HistoryPage page(*model);
    page.resize(820, 580);
    page.show();
    auto* list = page.findChild<RecordingList*>("historyList");
    QTest::qWait(50);
    const std::size_t first = list->cardCount();
    EXPECT_LT(first, 100u) << "not every card at once";
    QScrollBar* bar = page.findChild<QScrollArea*>()->verticalScrollBar();
    bar->setValue(bar->maximum());
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->cardCount() > first; }, 2000))
        << "more as the end comes into view";
}

}  // namespace
}  // namespace quorvel
