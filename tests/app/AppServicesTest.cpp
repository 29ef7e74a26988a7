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
#include <algorithm>
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
    const struct {
        const char* json;  // the manifest; none: no manifest
        std::string text;
    } cases[] = {
        {nullptr, none},
        {"not json", none},
        {"{\"latest\": 13}", none},
        {"{\"latest\": \"1.2\"}", "Tovik 1.2 — актуальная версия."},
        {"{\"latest\": \"1.3\"}", "Доступна версия 1.3 (у вас 1.2). Обновите из репозитория станции."},
    };
    for (const auto& c : cases) {
        if (c.json) writeFile(manifest, c.json);
        EXPECT_EQ(AppServices::updateCheckText(manifest, "1.2"), c.text) << (c.json ? c.json : "no manifest");
    }
}

TEST_F(AppServicesTest, TypingScoreCountsWordsPerMinuteAndMatchingPositions) {
    const struct {
        std::string typed;
        double seconds, wpm, accuracy;
    } cases[] = {
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
    EXPECT_NE(ConfigStore(AppPaths::configURL()).config().typedWPM, before) << "the speed is stored";
}

TEST_F(AppServicesTest, SharedStatisticsLandOnTheClipboard) {
    StatsStore stats(AppPaths::statsURL());
    stats.recordSession(12, std::string("Kate"));
    whenModal([](QWidget& box) { press(box, "Готово"); });
    AppServices::shareStats(stats, HistoryStore(AppPaths::historyURL(), AppPaths::recordingsDir()));
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), stats.shareText({}));
}

TEST(TrayMenuRows, FollowThePressState) {
    const struct {
        TrayMenu::State state;
        std::string status;
        bool start, stop, cancel;
    } cases[] = {
        {{false, false, "Vosk EN", "ready", true, true, true}, "○ готов · Vosk EN · STT ready", true, false, false},
        {{true, false, "x", "ready"}, "● записываю… (push)", false, false, true},
        {{true, true, "x", "ready"}, "● записываю… (toggle)", false, true, true},
    };
    for (const auto& c : cases) {
        const auto rows = TrayMenu::rows(c.state);
        const auto row = [&](Command command) { return *std::ranges::find(rows, command, &TrayMenu::Row::command); };
        EXPECT_EQ(rows.front().title, c.status);
        EXPECT_EQ(row(Command::start).enabled, c.start) << c.status;
        EXPECT_EQ(row(Command::stop).enabled, c.stop) << c.status;
        EXPECT_EQ(row(Command::cancel).enabled, c.cancel) << c.status;
    }
}

}  // namespace
}  // namespace quorvel
