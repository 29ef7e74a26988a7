// The settings window's frame: the sidebar in each interface language, a language change that
// rebuilds the pages, the section chosen at opening; and the first-run panel's checks and buttons.
#include "ui/settings/SettingsWindow.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "services/ModelStore.h"
#include "support/SettingsTestBase.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/SettingsPage.h"
#include "ui/settings/WelcomeView.h"

namespace quorvel {
namespace {

using SettingsWindowTest = testing::SettingsTest;

TEST_F(SettingsWindowTest, SidebarSpeaksTheInterfaceLanguageAndALanguageChangeRebuildsThePages) {
    model->editConfig([](AppConfig& c) { c.uiLanguage = "en"; });
    SettingsWindow window(*model, SettingsWindow::sound);
    EXPECT_EQ(window.sidebarTitles().front(), "Home");
    EXPECT_EQ(window.section(), SettingsWindow::sound);
    const SettingsPage* before = window.page(SettingsWindow::sound);

    const int changes = actions.configChanges;
    model->editConfig([](AppConfig& c) { c.uiLanguage = "ru"; });
    EXPECT_EQ(actions.configChanges, changes + 1) << "one edit, one notice";
    QTest::qWait(20);  // the rebuild waits for the editing control's signal to end
    EXPECT_EQ(window.sidebarTitles().front(), "Домой");
    EXPECT_NE(window.page(SettingsWindow::sound), before) << "built anew in the new language";
    EXPECT_EQ(window.section(), SettingsWindow::sound) << "the page stays selected";

    window.showSection(SettingsWindow::meetings);
    EXPECT_EQ(window.section(), SettingsWindow::sound) << "the coming page cannot be opened";
    SettingsWindow outOfRange(*model, 42);
    EXPECT_EQ(outOfRange.section(), SettingsWindow::home);

    // The home page refreshes itself while shown; a closed window wakes nobody.
    auto runningTimers = [&] {
        int running = 0;
        for (const QTimer* timer : outOfRange.page(SettingsWindow::home)->findChildren<QTimer*>())
            running += timer->isActive();
        return running;
    };
    outOfRange.present();
    EXPECT_GT(runningTimers(), 0);
    outOfRange.close();
    EXPECT_EQ(runningTimers(), 0);
}

TEST_F(SettingsWindowTest, WelcomePanelShowsWhatIsMissingAndOffersTheFixes) {
    // The microphone and accessibility allowed, listening not; the chosen model not installed.
    WelcomeView::State state{true, false, true, "GigaAM v2 Russian", false};
    WelcomeView view([&] { return state; }, "правый Super");
    std::vector<SystemSettings::Permission> opened;
    int done = 0;
    view.onOpenSystemSettings = [&](SystemSettings::Permission p) { opened.push_back(p); };
    view.onUseBuiltInModel = [&] {
        state.modelName = "PocketSphinx English (built in)";
        state.modelInstalled = true;
    };
    view.onDone = [&] { ++done; };
    view.show();

    auto visibleButtons = [&](const QString& text) {
        std::vector<QPushButton*> found;
        for (QPushButton* b : view.findChildren<QPushButton*>())
            if (b->text() == text && b->isVisibleTo(&view)) found.push_back(b);
        return found;
    };
    auto shows = [&](const QString& text) {
        for (QLabel* label : view.findChildren<QLabel*>())
            if (label->text().contains(text)) return true;
        return false;
    };
    const auto open = visibleButtons("Открыть");
    ASSERT_EQ(open.size(), 1u) << "only the missing permission offers its settings";
    open.front()->click();
    EXPECT_EQ(opened, std::vector{SystemSettings::Permission::inputMonitoring});
    EXPECT_TRUE(shows("«GigaAM v2 Russian» не установлена"));

    visibleButtons("Встроенная английская").front()->click();
    EXPECT_TRUE(shows("«PocketSphinx English (built in)» установлена")) << "checked again at once";
    EXPECT_TRUE(visibleButtons("Встроенная английская").empty());
    state.listen = true;  // granted in the system settings meanwhile
    EXPECT_TRUE(QTest::qWaitFor([&] { return visibleButtons("Открыть").empty(); }, 3000))
        << "the panel checks again every second";

    // The keyboard: Return on a focused button presses it, elsewhere it is "Готово", as is Esc.
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    visibleButtons("Открыть настройки").front()->setFocus();
    int settings = 0;
    view.onOpenSettings = [&] { ++settings; };
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(settings, 1);
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Return);
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_EQ(done, 2);
}

}  // namespace
}  // namespace quorvel
