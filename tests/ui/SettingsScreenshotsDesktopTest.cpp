// Every page of the settings window and the first-run panel on a real X server, in Russian,
// English and the dark theme, with a lived-in profile: written as PNGs under the build folder for
// a person to look at.
#include <QApplication>
#include <QDir>
#include <QTest>

#include "support/SettingsTestBase.h"
#include "ui/Theme.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/WelcomeView.h"

namespace quorvel {
namespace {

class SettingsScreenshotsDesktopTest : public testing::SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "run under tests/desktop/with-desktop";
        outDir_ = QUORVEL_BINARY_DIR "/screenshots/settings";
        QDir().mkpath(outDir_);
        const char* texts[] = {"Встреча перенесена на четверг, в три часа.", "Please send the report by Friday.",
                               "Купить молоко, хлеб и яблоки."};
        for (int i = 0; i < 12; ++i) {
            history->append({.text = texts[i % 3], .originalText = texts[i % 3], .elapsedMs = 900 + 40 * i,
                             .modeName = "Обычный", .durationMs = 3000 + 500 * i,
                             .modelName = "PocketSphinx English (built in)", .sourceApp = "Kate"});
            stats->recordSession(7 + i, std::string(i % 2 ? "Kate" : "Firefox"));
        }
        model->reloadHistory();
        model->setVocab({{"тувик", "Tovik"}, {"гит хаб", "GitHub"}, {"кубернетес", "Kubernetes"}});
    }
    void TearDown() override {
        Theme::apply("auto");
        SettingsTest::TearDown();
    }

    void shoot(const std::string& language, const std::string& theme) {
        model->editConfig([&](AppConfig& c) {
            c.uiLanguage = language;
            c.theme = theme;
        });
        Theme::apply(theme);
        SettingsWindow window(*model);
        window.present();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const QString suffix = QString::fromStdString("-" + language + "-" + theme + ".png");
        for (int section = 0; section < SettingsWindow::meetings; ++section) {
            window.showSection(section);
            QTest::qWait(150);
            const QString file = outDir_ + QString("/page%1").arg(section) + suffix;
            EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
        }
        WelcomeView welcome([] { return WelcomeView::State{true, true, false, "GigaAM v2 Russian", false}; },
                            "правый Super");
        welcome.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&welcome));
        QTest::qWait(100);
        EXPECT_TRUE(welcome.grab().save(outDir_ + "/welcome" + suffix));
    }

    QString outDir_;
};

TEST_F(SettingsScreenshotsDesktopTest, EveryPageInRussianEnglishAndDark) {
    shoot("ru", "light");
    shoot("en", "light");
    shoot("ru", "dark");
}

}  // namespace
}  // namespace quorvel
