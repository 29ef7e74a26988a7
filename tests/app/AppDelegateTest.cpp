// The controller in this process (no tray, no X): the start-up sequence's chores in their order,
// and a settings change that moves the recordings folder.
#include "app/AppDelegate.h"

#include <QGuiApplication>
#include <QTest>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/StatsStore.h"
#include "services/Log.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

class AppDelegateTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        // A display name of our own: copies of the program in other tests (or the user's) run
        // on other displays and do not count as running copies here.
        if (qEnvironmentVariableIsEmpty("DISPLAY") && QGuiApplication::platformName() == "offscreen")
            qputenv("DISPLAY", ":quorvel-test-" + QByteArray::number(QCoreApplication::applicationPid()));
    }
    static std::string log() {
        Log::flush();
        return readFile(AppPaths::logURL());
    }
};

TEST_F(AppDelegateTest, StartUpCountsAnOldHistoryOnceCleansUpAndFollowsSettingsChanges) {
    {
        const HistoryStore history(AppPaths::historyURL(), AppPaths::recordingsDir());
        const double now = static_cast<double>(std::time(nullptr));
        for (int i = 0; i < 12; ++i)
            ASSERT_TRUE(history.append({.text = "два слова", .createdAt = now - (i < 2 ? 10 * 86400 : 60)}));
        writeFile(AppPaths::configURL(), R"({"keepRecordings": "7d", "onboarded": true})");
    }
    {
        AppDelegate delegate;
        int quitStatus = -1;
        delegate.start([&](int status) { quitStatus = status; });
        QTest::qWait(50);
        EXPECT_EQ(quitStatus, -1) << "the first copy keeps running";

        ASSERT_NE(log().find("готов. Хоткей: "), std::string::npos) << log();
        EXPECT_NE(log().find("системный трей недоступен: меню — по правому щелчку на пилюле"), std::string::npos);
        EXPECT_EQ(StatsStore(AppPaths::statsURL()).sessionsTotal(), 12)
            << "the statistics count the history before the clean-up thins it";
        EXPECT_EQ(HistoryStore(AppPaths::historyURL(), AppPaths::recordingsDir()).read(100).size(), 10u);

        // A settings change: the next recordings go to the new folder.
        const auto folder = home() / "elsewhere";
        delegate.configStore().update([&](AppConfig& c) { c.recordingsFolder = folder.string(); });
        delegate.configChanged();
        EXPECT_EQ(delegate.historyStore().recordingsDir(), folder);
    }
    // The next launch finds counted statistics: no second migration adds the history again.
    {
        AppDelegate delegate;
        delegate.start([](int) {});
        QTest::qWait(50);
    }
    EXPECT_EQ(StatsStore(AppPaths::statsURL()).sessionsTotal(), 12);
}

}  // namespace
}  // namespace quorvel
