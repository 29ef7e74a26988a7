// The controller's small services: the update check's answers, the typing test's figures and its
// dialog reaching the configuration, the statistics on the clipboard and the tray menu's rows in
// each state.
#include "app/AppServices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/TrayMenu.h"
#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/StatsStore.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using Command = TrayMenu::Command;

class AppServicesTest : public testing::TempHome {
protected:
    // Answers the next modal window with `act` once it is up (each dialog runs its own loop).
    static void whenModal(std::function<void(QWidget&)> act) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, act] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return;
            poll->stop();
            poll->deleteLater();
            act(*modal);
        });
        poll->start(10);
    }
    static void press(QWidget& dialog, const QString& button) {
        for (QAbstractButton* b : dialog.findChildren<QAbstractButton*>())
            if (b->text() == button) return b->click();
        ADD_FAILURE() << "no button " << button.toStdString();
    }
};

TEST_F(AppServicesTest, UpdateCheckAnswersFromTheLocalManifestOnly) {
    const auto manifest = home() / "updates.json";
    const std::string none = "Нет данных о версиях (локальный манифест отсутствует; сеть не используется).";
    EXPECT_EQ(AppServices::updateCheckText(manifest, "1.2"), none);
    const struct {
        const char* json;
        std::string text;
    } cases[] = {
        {"not json", none},
        {"{\"latest\": 13}", none},
        {"{\"latest\": \"1.2\"}", "Tovik 1.2 — актуальная версия."},
        {"{\"latest\": \"1.3\"}", "Доступна версия 1.3 (у вас 1.2). Обновите из репозитория станции."},
    };
    for (const auto& c : cases) {
        writeFile(manifest, c.json);
        EXPECT_EQ(AppServices::updateCheckText(manifest, "1.2"), c.text) << c.json;
    }
}

TEST_F(AppServicesTest, TypingScoreCountsWordsPerMinuteAndMatchingPositions) {
    const struct {
        std::string typed;
        double seconds, wpm, accuracy;
    } cases[] = {
        {"", 10, 0, 0},
        {AppServices::kTypingPhrase, 21, 20, 1},
        {"быстрая Коричневая лиса", 6, 30, 2.0 / 7},
        {std::string(AppServices::kTypingPhrase) + " и ещё слова", 30, 20, 1},
    };
    for (const auto& c : cases) {
        const auto score = AppServices::scoreTyping(c.typed, c.seconds);
        EXPECT_NEAR(score.wpm, c.wpm, 1e-9) << c.typed;
        EXPECT_NEAR(score.accuracy, c.accuracy, 1e-9) << c.typed;
        EXPECT_NEAR(score.adjusted, c.wpm * c.accuracy, 1e-9) << c.typed;
    }
}

TEST_F(AppServicesTest, TypingTestStoresTheSpeedOnlyWhenTheUserFinishesIt) {
    ConfigStore config(AppPaths::configURL());
    const double before = config.config().typedWPM;
    whenModal([](QWidget& dialog) { press(dialog, "Отмена"); });
    AppServices::runTypingTest(config);
    EXPECT_EQ(ConfigStore(AppPaths::configURL()).config().typedWPM, before);

    QString result;
    whenModal([&](QWidget& dialog) {
        dialog.findChild<QLineEdit*>("typingField")->setText(QString(" %1 ").arg(AppServices::kTypingPhrase));
        whenModal([&](QWidget& box) {
            result = qobject_cast<QMessageBox*>(&box)->text();
            press(box, "Готово");
        });
        press(dialog, "Готово");
    });
    AppServices::runTypingTest(config);
    EXPECT_FALSE(result.isEmpty()) << "the figures are shown";
    const double stored = ConfigStore(AppPaths::configURL()).config().typedWPM;
    EXPECT_GT(stored, 5.0);
    EXPECT_NE(stored, before);
}

TEST_F(AppServicesTest, SharedStatisticsLandOnTheClipboard) {
    StatsStore stats(AppPaths::statsURL());
    stats.recordSession(12, std::string("Kate"));
    const HistoryStore history(AppPaths::historyURL(), AppPaths::recordingsDir());
    QApplication::clipboard()->setText("before");
    QString shown;
    whenModal([&](QWidget& box) {
        shown = qobject_cast<QMessageBox*>(&box)->text();
        press(box, "Готово");
    });
    AppServices::shareStats(stats, history);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), stats.shareText({}));
    EXPECT_EQ(shown, QApplication::clipboard()->text());
}

const TrayMenu::Row* find(const std::vector<TrayMenu::Row>& rows, Command command) {
    for (const auto& row : rows) {
        if (row.command == command) return &row;
        if (const auto* inner = find(row.submenu, command)) return inner;
    }
    return nullptr;
}

TEST(TrayMenuRows, FollowThePressState) {
    struct Case {
        TrayMenu::State state;
        std::string status, stopTitle;
        bool start, stop, cancel;
    };
    const Case cases[] = {
        {{false, false, "Vosk EN", "ready", true, true, true}, "○ готов · Vosk EN · STT ready", "Отпустить → вставка",
         true, false, false},
        {{true, false, "x", "ready"}, "● записываю… (push)", "Отпустить → вставка", false, false, true},
        {{true, true, "x", "ready"}, "● записываю… (toggle)", "Остановить и вставить", false, true, true},
    };
    for (const Case& c : cases) {
        const auto rows = TrayMenu::rows(c.state);
        EXPECT_EQ(rows.front().title, c.status);
        EXPECT_FALSE(rows.front().enabled) << "the status line is not a command";
        EXPECT_EQ(find(rows, Command::stop)->title, c.stopTitle);
        EXPECT_EQ(find(rows, Command::start)->enabled, c.start) << c.status;
        EXPECT_EQ(find(rows, Command::stop)->enabled, c.stop) << c.status;
        EXPECT_EQ(find(rows, Command::cancel)->enabled, c.cancel) << c.status;
        EXPECT_TRUE(find(rows, Command::quit)->enabled);
    }
    const TrayMenu::State denied{false, false, "x", "?", false, true, false};
    EXPECT_EQ(find(TrayMenu::rows(denied), Command::openMicrophoneSettings)->title, "✗ Микрофон");
}

}  // namespace
}  // namespace quorvel
