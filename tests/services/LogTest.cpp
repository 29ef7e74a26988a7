#include <QCoreApplication>
#include <QThread>
#include <QTest>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "services/Log.h"
#include "services/MainDispatcher.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using testing::TempHome;

class LogTest : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        file_ = home() / "Logs" / "deeper" / "quorvelmac.log";
        Log::setFile(file_);
    }
    std::vector<std::string> written() const {
        Log::flush();
        std::vector<std::string> lines;
        std::istringstream in(readFile(file_));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::filesystem::path file_;
};

TEST_F(LogTest, FirstLineCreatesTheFolderLaterLinesAppendInOrderAndAnUnwritableLogIsLost) {
    Log::write("INFO", "=== Tovik запущен ===");
    Log::warn("второй");
    Log::error("multi\nline");
    const auto lines = written();
    ASSERT_EQ(lines.size(), 4u);
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    EXPECT_TRUE(std::regex_search(lines[0], stamp));
    EXPECT_EQ(lines[0].substr(24), "INFO: === Tovik запущен ===");
    EXPECT_EQ(lines[1].substr(24), "WARN: второй");
    EXPECT_EQ(lines[2].substr(24), "ERROR: multi");
    EXPECT_EQ(lines[3], "line") << "the message is written unchanged";

    Log::setFile(file_);  // as if the program started again: nothing is truncated
    Log::info("again");
    EXPECT_EQ(written().size(), 5u);

    // A log that cannot be written is silently lost.
    writeFile(home() / "blocker", "a file where a folder should be");
    Log::setFile(home() / "blocker" / "x.log");
    Log::info("lost");
    Log::flush();
    EXPECT_FALSE(std::filesystem::exists(home() / "blocker" / "x.log"));
}

TEST_F(LogTest, LinesFromManyThreadsNeverInterleaveAndKeepPerThreadOrder) {
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) Log::info("t" + std::to_string(t) + " n" + std::to_string(i));
        });
    for (auto& thread : threads) thread.join();
    const auto lines = written();
    ASSERT_EQ(lines.size(), size_t{kThreads * kLines});
    std::vector<int> next(kThreads, 0);
    const std::regex shape(R"(.{23} INFO: t(\d) n(\d+))");
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        const int thread = std::stoi(m[1]), n = std::stoi(m[2]);
        EXPECT_EQ(n, next[thread]++) << "per-thread order";
    }
}

TEST(MainDispatcher, NeverRunsInlineKeepsOrderOnTheMainThreadAndDropsBlocksOfAGoneContext) {
    std::vector<int> order;
    const auto record = [&order](int i) {
        return [&order, i] {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread()) << i;
            order.push_back(i);
        };
    };
    MainDispatcher::dispatch(record(1));
    MainDispatcher::dispatch(record(2));
    EXPECT_TRUE(order.empty()) << "dispatch from the main thread must not run the block inline";
    std::thread([&] {
        for (int i = 3; i <= 50; ++i) MainDispatcher::dispatch(record(i));
    }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 50; }, 5000));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i + 1);

    // A block for a context that is gone by then is dropped.
    bool ran = false;
    auto* context = new QObject;
    MainDispatcher::dispatch(context, [&] { ran = true; });
    delete context;
    bool later = false;
    MainDispatcher::dispatch([&] { later = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return later; }, 5000));
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace quorvel
