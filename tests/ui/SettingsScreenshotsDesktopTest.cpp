// Every page of the settings window and the first-run panel on a real X server, in Russian,
// English and the dark theme, with a lived-in profile: written as PNGs under the build folder for
// a person to look at, and checked for texts that do not fit their controls.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTest>

#include "support/SettingsTestBase.h"
#include "ui/Theme.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/settings/WelcomeView.h"

namespace quorvel {
namespace {

// Visible labels and buttons whose one-line text is wider than the room they got.
std::vector<std::string> clippedTexts(const QWidget& root) {
    std::vector<std::string> clipped;
    auto check = [&](const QWidget& widget, const QString& text, bool wraps) {
        if (!widget.isVisibleTo(&root) || text.isEmpty() || wraps) return;
        if (widget.sizeHint().width() > widget.width() + 1)
            clipped.push_back(widget.metaObject()->className() + std::string(" \"") + text.toStdString() + "\" " +
                              std::to_string(widget.width()) + " < " + std::to_string(widget.sizeHint().width()));
    };
    for (const QLabel* label : root.findChildren<QLabel*>()) check(*label, label->text(), label->wordWrap());
    for (const QAbstractButton* button : root.findChildren<QAbstractButton*>()) check(*button, button->text(), false);
    return clipped;
}

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
            for (const std::string& text : clippedTexts(window)) ADD_FAILURE() << file.toStdString() << ": " << text;
        }
        WelcomeView welcome([] { return WelcomeView::State{true, true, false, "GigaAM v2 Russian", false}; },
                            "правый Super");
        welcome.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&welcome));
        QTest::qWait(100);
        EXPECT_TRUE(welcome.grab().save(outDir_ + "/welcome" + suffix));
        for (const std::string& text : clippedTexts(welcome)) ADD_FAILURE() << "welcome: " << text;
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
