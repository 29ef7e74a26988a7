// The instance socket's name in one process (the tray program test starts a real second copy).
#include <QProcess>
#include <QTest>
#include <QUuid>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/SingleInstance.h"

namespace quorvel {
namespace {

QString uniqueKey() { return "quorvel-test-" + QUuid::createUuid().toString(QUuid::WithoutBraces); }

TEST(SingleInstanceTest, TheNameIsFreeAgainOnceTheFirstCopyIsGone) {
    const QString key = uniqueKey();
    ASSERT_EQ(SingleInstance(key).start(), SingleInstance::Role::primary);
    SingleInstance next(key);
    EXPECT_EQ(next.start(), SingleInstance::Role::primary);
    SingleInstance unrelated(uniqueKey());
    EXPECT_EQ(unrelated.start(), SingleInstance::Role::primary) << "other names do not interfere";
}

TEST(SingleInstanceTest, DefaultNameIsPerUserAndDisplay) {
    const QByteArray display = qgetenv("DISPLAY");
    const QString user = "com.brellun.quorvel." + QString::number(getuid());
    qputenv("DISPLAY", ":7");
    EXPECT_EQ(SingleInstance::defaultKey(), user + ".:7");
    qunsetenv("DISPLAY");
    EXPECT_EQ(SingleInstance::defaultKey(), user);
    if (!display.isEmpty()) qputenv("DISPLAY", display);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Abstract socket names have no permissions: a process of another user holding our name must
// neither make us quit as "secondary" nor be able to send us messages.
TEST(SingleInstanceTest, AnotherUsersProcessUnderOurNameIsNotTheRunningCopy) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run a process as another user";
    const QString key = uniqueKey();
    QProcess squatter;
    squatter.start("/usr/bin/setpriv",
                   {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                    "import socket,sys,time\n"
                    "s=socket.socket(socket.AF_UNIX); s.bind('\\0'+sys.argv[1]); s.listen(8)\n"
                    "print('ready', flush=True); time.sleep(30)",
                    key});
    ASSERT_TRUE(squatter.waitForReadyRead(10000)) << squatter.readAllStandardError().toStdString();
    SingleInstance ours(key);
    EXPECT_EQ(ours.start(), SingleInstance::Role::failed);
    EXPECT_EQ(ours.primaryPid(), std::nullopt);
    squatter.kill();
    squatter.waitForFinished();
}

}  // namespace
}  // namespace quorvel
