// The instance socket's name, and racing copies in forked processes (the tray program test starts
// a real second copy that hands over).
#include <QProcess>
#include <QTest>
#include <QUuid>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "platform/SingleInstance.h"
#include "support/ChildProcess.h"

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

// Copies in forked processes start at once; each reports its role through a pipe and stays up
// until every copy has reported.
TEST(SingleInstanceTest, RacingStartsGiveExactlyOnePrimary) {
    for (int round = 0; round < 3; ++round) {
        const QString key = uniqueKey();
        int roles[2], release[2];
        ASSERT_EQ(::pipe(roles), 0);
        ASSERT_EQ(::pipe(release), 0);
        std::vector<pid_t> copies;
        for (int i = 0; i < 4; ++i) {
            copies.push_back(testing::startChild([&] {
                ::close(release[1]);
                SingleInstance instance(key);
                // p: primary, s: secondary, f: failed
                const char role = "psf"[static_cast<int>(instance.start())];
                const bool told = ::write(roles[1], &role, 1) == 1;
                ::close(roles[1]);
                char none;
                return told && ::read(release[0], &none, 1) == 0 ? 0 : 1;
            }));
        }
        ::close(roles[1]);
        std::string reported;  // read until every copy has written its role and closed its end
        for (char role; ::read(roles[0], &role, 1) == 1;) reported += role;
        ::close(release[1]);
        for (const pid_t copy : copies) EXPECT_EQ(testing::waitChild(copy), 0);
        ::close(roles[0]);
        ::close(release[0]);
        std::ranges::sort(reported);
        EXPECT_EQ(reported, "psss") << round;
    }
}

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
