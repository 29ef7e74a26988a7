// Shared main of the Qt-based tests: the application object exists for every test, so queued
// calls, timers, processes and sockets work; tests wait with QTest::qWaitFor, never with sleeps.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
