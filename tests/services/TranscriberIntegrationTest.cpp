// The worker client against real child processes: the scriptable fake worker of
// tests/fixtures drives every fault, with short time-outs.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "core/WavDecoder.h"
#include "services/Log.h"
#include "services/Transcriber.h"
#include "services/WorkerProcess.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using State = Transcriber::State;

const std::filesystem::path kFakeWorker = std::filesystem::path(QUORVEL_SOURCE_DIR) / "tests/fixtures/fake_worker.py";

struct Outcome {
    bool done = false;
    std::optional<std::string> text;
};

class TranscriberTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        for (char** entry = environ; *entry;) {  // unsetenv moves the later entries up
            const std::string_view variable(*entry);
            if (!variable.starts_with("FAKE_WORKER_")) ++entry;
            else ::unsetenv(std::string(variable.substr(0, variable.find('='))).c_str());
        }
        fake("RECORD", (home() / "record.jsonl").string());
        fake("TEXT", "text {id}");
        Log::setFile(home() / "quorvel.log");
        std::filesystem::create_directories(modelA_);
        std::filesystem::create_directories(modelB_);
    }

    void TearDown() override {
        QCoreApplication::sendPostedEvents();  // completions still owed run while their outcomes exist
        TempHome::TearDown();
    }

    static void fake(const char* name, const std::string& value) {
        ::setenv(("FAKE_WORKER_" + std::string(name)).c_str(), value.c_str(), 1);
    }
    static void unfake(const char* name) { ::unsetenv(("FAKE_WORKER_" + std::string(name)).c_str()); }

    std::unique_ptr<Transcriber> make(std::chrono::milliseconds startTimeout = 3000ms,
                                      std::chrono::milliseconds requestTimeout = 3000ms,
                                      std::optional<std::filesystem::path> worker = kFakeWorker) {
        const Transcriber::Options options{startTimeout, requestTimeout, worker, home() / "tmp"};
        auto transcriber = std::make_unique<Transcriber>("/usr/bin/python3", [this] { return prefs_; }, options);
        transcriber->onStateChange = [this](State s) { states_.push_back(s); };
        return transcriber;
    }

    // Whatever ends a request, its completion runs later, from the event loop; there it may let go
    // of the client (`release`) as its last owner.
    Outcome& send(Transcriber& t, std::vector<float> samples = std::vector<float>(1600, 0.1f),
                  std::unique_ptr<Transcriber>* release = nullptr) {
        Outcome* outcome = outcomes_.emplace_back(std::make_unique<Outcome>()).get();
        t.transcribe(std::move(samples), [outcome, release](std::optional<std::string> text) {
            EXPECT_FALSE(outcome->done) << "a completion runs at most once";
            if (release) release->reset();
            outcome->done = true;
            outcome->text = std::move(text);
        });
        return *outcome;
    }

    static bool waitDone(const Outcome& outcome) {
        return QTest::qWaitFor([&] { return outcome.done; }, 8000);
    }
    // The outcome's text once it completed; a wait that runs out fails the test.
    static std::optional<std::string> textOf(const Outcome& outcome) {
        EXPECT_TRUE(waitDone(outcome)) << "no completion";
        return outcome.text;
    }
    std::optional<std::string> ask(Transcriber& t) { return textOf(send(t)); }

    static size_t threadCount() {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                 std::filesystem::directory_iterator()));
    }

    static long residentBytes() {
        long pages = 0, resident = 0;
        std::ifstream("/proc/self/statm") >> pages >> resident;
        return resident * ::sysconf(_SC_PAGESIZE);
    }

    ::testing::AssertionResult logged(const std::string& line) {
        Log::flush();
        const std::string text = readFile(home() / "quorvel.log");
        if (text.find(line) != std::string::npos) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no \"" << line << "\" in the log:\n" << text;
    }

    std::filesystem::path modelA_ = home() / "models" / "a";
    std::filesystem::path modelB_ = home() / "models" / "b";
    std::optional<WorkerPrefs> prefs_ = WorkerPrefs{modelA_.string(), "nemo", "ru"};
    std::vector<State> states_;
    std::vector<std::unique_ptr<Outcome>> outcomes_;
};

TEST_F(TranscriberTest, RequestsQueuedWhileStartingGoOutInOrderWithEscapedPathsAndIncreasingIds) {
    fake("READY_DELAY", "0.3");
    const int inheritable = ::open("/dev/null", O_RDONLY);  // no close-on-exec: the worker must not get it
    auto t = make();
    Outcome& empty = send(*t, {});
    EXPECT_FALSE(empty.done) << "even empty input completes later";
    ASSERT_TRUE(waitDone(empty));
    EXPECT_EQ(empty.text, "") << "empty input needs no worker and no id";
    EXPECT_EQ(t->state(), State::stopped);
    EXPECT_FALSE(t->workerPid());
    writeFile(home() / "tmp/req_1.txt", "первый ответ");  // the fake's transcript beside the WAV
    Outcome& first = send(*t);
    Outcome& second = send(*t);
    EXPECT_EQ(t->state(), State::starting);
    EXPECT_EQ(textOf(second), "text 2");
    EXPECT_EQ(first.text, "первый ответ");
    EXPECT_EQ(t->state(), State::ready);
    EXPECT_EQ(states_, (std::vector<State>{State::starting, State::ready}));
    EXPECT_FALSE(std::filesystem::exists(home() / "tmp/req_1.wav")) << "answered requests leave no file";

    const std::string record = readFile(home() / "record.jsonl");
    EXPECT_NE(record.find(R"({\"id\":1,\"wav\":\")" + (home() / "tmp/req_1.wav").string()), std::string::npos) << record;
    EXPECT_NE(record.find("--model-dir"), std::string::npos);
    EXPECT_NE(record.find(R"("fds": [0, 1, 2]})"), std::string::npos) << "only standard descriptors: " << record;
    ::close(inheritable);
}

TEST_F(TranscriberTest, SplitLinesGarbageMissingTextAndFloodsAreHandled) {
    struct Case {
        std::vector<std::pair<const char*, std::string>> faults;
        std::optional<std::string> text;
        std::vector<std::string> lines;
        size_t junkLines;  // lines that are not JSON objects, each shown or counted exactly once
    };
    const std::vector<Case> cases = {
        {{{"SPLIT_WRITES", "3"}, {"GARBAGE", "1"}, {"OMIT_TEXT", "1"}}, "",  // no text: the empty string
         {"WARN: worker: неразборчивый вывод: ?"}, 12},
        {{{"FLOOD", std::to_string(2 * 1024 * 1024 + 17)}, {"FLOOD_NEWLINE", "1"}}, "text 1",  // the next line counts
         {"WARN: worker: строка вывода длиннее 1048576 байт отброшена"}, 0},
        {{{"JUNK_LINES", "20000"}}, "text 1", {"WARN: worker: неразборчивый вывод: junk"}, 20000},
        // Replies to no request and repeated "ready" lines flood no more than junk does.
        {{{"JUNK_LINES", "20000"}, {"JUNK_TEXT", R"({"id":-7})"}}, "text 1",
         {"WARN: STT: ответ на несуществующий запрос #-7"}, 20000},
        {{{"JUNK_LINES", "20000"}, {"JUNK_TEXT", R"({"ready":true})"}}, "text 1", {}, 0},
        // A giant junk line is shown cut short.
        {{{"JUNK_LINES", "30"}, {"JUNK_TEXT", std::string(100000, 'y')}}, "text 1",
         {"WARN: worker: неразборчивый вывод: " + std::string(200, 'y') + "…\n"}, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults.back().second.substr(0, 20));
        states_.clear();
        Log::flush();
        std::filesystem::remove(home() / "quorvel.log");
        for (const auto& [name, value] : c.faults) fake(name, value);
        auto t = make();
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(ask(*t), c.text);
        t.reset();  // reports what is still only counted
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
        for (const std::string& line : c.lines) EXPECT_TRUE(logged(line));
        // Junk is logged at most once a second, the rest as a count.
        size_t shown = 0, counted = 0, junkWarnings = 0;
        const std::string log = readFile(home() / "quorvel.log");
        const std::regex junk("неразборчивый вывод: |несуществующий запрос #|ещё (\\d+) строк вывода не показаны");
        for (auto m = std::sregex_iterator(log.begin(), log.end(), junk); m != std::sregex_iterator(); ++m, ++junkWarnings)
            (*m)[1].matched ? counted += std::stoul((*m)[1]) : ++shown;
        EXPECT_EQ(shown + counted, c.junkLines);
        EXPECT_LE(junkWarnings, 2 * static_cast<size_t>(seconds.count()) + 2) << log.substr(0, 2000);
        EXPECT_LT(log.size(), 64u << 10) << "the log stays small";
        EXPECT_LE(std::count(states_.begin(), states_.end(), State::ready), 1) << "a state is told when it changes";
        for (const auto& fault : c.faults) unfake(fault.first);
    }
}

TEST_F(TranscriberTest, StrayReplyKeepsTheTimeOutAndTheWorkerIsRestartedForTheQueue) {
    fake("WRONG_ID", "1");
    auto t = make(3000ms, 800ms);
    Outcome* retry = nullptr;
    Outcome& lost = *outcomes_.emplace_back(std::make_unique<Outcome>());
    t->transcribe(std::vector<float>(1600, 0.1f), [&](std::optional<std::string> text) {
        lost = {true, text};
        retry = &send(*t);  // asked again from inside the time-out's completion
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return t->state() == State::ready; }, 5000));
    const pid_t firstPid = *t->workerPid();
    unfake("WRONG_ID");
    Outcome& queued = send(*t);
    EXPECT_EQ(textOf(lost), std::nullopt);
    EXPECT_EQ(textOf(queued), "text 2") << "the queued request goes to the new worker";
    ASSERT_TRUE(retry && waitDone(*retry));
    EXPECT_EQ(retry->text, "text 3") << "so does the one asked for by the completion";
    EXPECT_NE(*t->workerPid(), firstPid);
    EXPECT_TRUE(logged("WARN: STT: ответ на несуществующий запрос #1001"));
}

TEST_F(TranscriberTest, AFatalLineOrNoReadyLineFailsWhatWaitsStopsTheWorkerAndTheNextRequestStartsAgain) {
    const std::vector<std::tuple<const char*, std::chrono::milliseconds, std::string>> cases = {
        {"FATAL_ON", 3000ms, "ERROR: worker fatal: fake fatal"},
        {"NO_READY", 500ms, "ERROR: worker не стал ready за 40 с (см. worker_stderr.log)"}};
    fake("REPLY_DELAY", "0.2");
    for (const auto& [fault, startTimeout, line] : cases) {
        SCOPED_TRACE(fault);
        fake(fault, "1");
        auto t = make(startTimeout);
        Outcome& first = send(*t);
        Outcome& second = send(*t);
        const pid_t stuck = *t->workerPid();
        EXPECT_EQ(textOf(first), std::nullopt);
        EXPECT_EQ(t->state(), State::failed);
        EXPECT_TRUE(QTest::qWaitFor([&] { return ::kill(stuck, 0) != 0; }, 5000)) << "the old worker is stopped";
        // Nothing would start a worker for it: the queued request must not wait forever.
        EXPECT_EQ(textOf(second), std::nullopt);
        EXPECT_TRUE(logged(line));
        unfake(fault);
        EXPECT_EQ(ask(*t), "text 3");
    }
}

TEST_F(TranscriberTest, WorkerDeathOrAWriteToAGoneWorkerFailsEverythingWaitingAndLogsTheExit) {
    fake("DIE_AFTER", "1");
    auto t = make();
    EXPECT_EQ(ask(*t), "text 1");
    Outcome& second = send(*t);
    EXPECT_EQ(ask(*t), std::nullopt);
    EXPECT_EQ(second.text, std::nullopt);
    EXPECT_EQ(t->state(), State::failed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return logged("worker terminated: exit code 3"); }, 5000));
    EXPECT_TRUE(std::filesystem::exists(home() / "tmp/req_2.wav")) << "files of failed requests stay";

    // Writing to a worker that is gone is a worker death too, not a crash.
    unfake("DIE_AFTER");
    ask(*t);
    const pid_t pid = *t->workerPid();
    ::kill(pid, SIGKILL);
    // Do not let the event loop run: the death notice must still be pending when we write.
    for (int i = 0; i < 2000 && ::kill(pid, 0) == 0; ++i) ::usleep(1000);
    EXPECT_EQ(ask(*t), std::nullopt);
    EXPECT_EQ(t->state(), State::failed);
}

TEST_F(TranscriberTest, ChangedModelRestartsTheWorkerWithNewArguments) {
    auto t = make();
    // The worker's error output is kept across restarts, but never grows without end.
    const auto errors = t->tempDir() / "worker_stderr.log";
    std::filesystem::resize_file(writeFile(errors, "x"), 5 << 20);
    ask(*t);
    EXPECT_LT(std::filesystem::file_size(errors), 1u << 20) << "an oversized log starts afresh";
    writeFile(errors, "the previous worker said goodbye\n");
    prefs_ = WorkerPrefs{modelB_.string(), "whisper", ""};
    EXPECT_EQ(ask(*t), "text 2");
    EXPECT_TRUE(logged("INFO: prefs модели изменились (" + modelA_.string() + " → " + modelB_.string() + ") — restart"));
    const std::string record = readFile(home() / "record.jsonl");
    EXPECT_NE(record.find(R"("--model-type", "whisper", "--language", "")"), std::string::npos) << record;
    EXPECT_EQ(readFile(errors).rfind("the previous worker said goodbye\n", 0), 0u) << "a small log is appended to";
}

TEST_F(TranscriberTest, RequestAudioIsA16kHzWavARestartFailsAHungRequestAndAnUnwritableOneFailsAlone) {
    fake("HANG", "1");
    auto t = make();
    std::vector<float> ramp(3200);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i % 100) / 200.0f;
    Outcome& hung = send(*t, ramp);
    ASSERT_TRUE(QTest::qWaitFor([&] { return t->state() == State::ready; }, 5000));
    const auto decoded = decodeWav(readFile(home() / "tmp/req_1.wav"));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), ramp.size());
    EXPECT_NEAR((*decoded)[99], ramp[99], 1e-4);

    unfake("HANG");
    fake("READY_DELAY", "0.3");  // the old worker's death notices arrive while the new one starts
    t->restart();
    Outcome& next = send(*t);
    EXPECT_EQ(textOf(hung), std::nullopt);
    EXPECT_EQ(textOf(next), "text 2");
    EXPECT_EQ(t->state(), State::ready);

    // Audio that cannot be written fails its request only.
    std::filesystem::remove_all(home() / "tmp");
    writeFile(home() / "tmp", "a file where the request folder should be");
    EXPECT_EQ(ask(*t), std::nullopt);
    EXPECT_EQ(readFile(home() / "record.jsonl").find("req_3"), std::string::npos) << "the worker never hears of it";
    EXPECT_TRUE(logged("ERROR: wav write failed: cannot write " + (home() / "tmp/req_3.wav").string()));
    std::filesystem::remove(home() / "tmp");
    std::filesystem::create_directories(home() / "tmp");
    EXPECT_EQ(ask(*t), "text 4");
}

TEST_F(TranscriberTest, MissingPiecesFailTheStartAndTheWaitingRequest) {
    using Worker = std::optional<std::filesystem::path>;
    using Row = std::tuple<std::optional<WorkerPrefs>, std::string, Worker, std::string>;
    const std::vector<Row> cases{
        {std::nullopt, "/usr/bin/python3", kFakeWorker,
         "ERROR: модель STT недоступна (не скачана?)"},
        {WorkerPrefs{"/nonexistent/model", "nemo", "ru"}, "/usr/bin/python3", kFakeWorker,
         "ERROR: каталог модели не существует: /nonexistent/model"},
        {prefs_, "/nonexistent/python3", kFakeWorker,
         "ERROR: python не найден: /nonexistent/python3"},
        {prefs_, "/usr/bin/python3", std::nullopt, "ERROR: stt_worker.py не найден"},
    };
    for (const auto& [prefs, python, worker, line] : cases) {
        prefs_ = prefs;
        auto t = make(3000ms, 3000ms, worker);
        t->setPythonPath(python);
        Outcome& outcome = send(*t);
        EXPECT_FALSE(outcome.done) << "completions never run inside transcribe(): " << line;
        EXPECT_EQ(textOf(outcome), std::nullopt) << line;
        EXPECT_EQ(t->state(), State::failed);
        EXPECT_TRUE(logged(line));
    }
}

TEST_F(TranscriberTest, ACompletionMayReleaseTheClientWhateverEndedItsRequest) {
    enum class End { reply, restart, modelChange };
    for (const End end : {End::reply, End::restart, End::modelChange}) {
        SCOPED_TRACE(static_cast<int>(end));
        prefs_ = WorkerPrefs{modelA_.string(), "nemo", "ru"};
        end == End::reply ? unfake("HANG") : fake("HANG", "1");
        std::unique_ptr<Transcriber> t = make();
        // A modal dialog on every state change: its loop runs whatever completion is due.
        t->onStateChange = [](State) { QTest::qWait(20); };
        Outcome& outcome = send(*t, std::vector<float>(1600, 0.1f), &t);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !t || t->state() == State::ready; }, 5000));
        if (end == End::restart) t->restart();
        Outcome* next = nullptr;
        if (end == End::modelChange) {
            prefs_ = WorkerPrefs{modelB_.string(), "whisper", ""};
            next = &send(*t);
        }
        EXPECT_FALSE(outcome.done && t) << "never inside a call into the client";
        EXPECT_EQ(textOf(outcome), end == End::reply ? std::optional<std::string>("text 1") : std::nullopt);
        EXPECT_FALSE(t);
        EXPECT_TRUE(!next || waitDone(*next)) << "the client owed it a completion when it went";
    }
}

TEST_F(TranscriberTest, ACompletionRunningANestedEventLoopSeesEveryReplyOnce) {
    auto t = make();
    Outcome* second = nullptr;
    bool firstDone = false;
    t->transcribe(std::vector<float>(1600, 0.1f), [&](std::optional<std::string> text) {
        EXPECT_EQ(text, "text 1");
        second = &send(*t);
        EXPECT_TRUE(waitDone(*second)) << "a modal dialog's loop inside the completion";
        firstDone = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return firstDone; }, 10000));
    EXPECT_EQ(second->text, "text 2");
    EXPECT_EQ(ask(*t), "text 3");
    Log::flush();
    EXPECT_EQ(readFile(home() / "quorvel.log").find("несуществующий"), std::string::npos) << "no reply handled twice";
}

TEST_F(TranscriberTest, DestroyingTheClientCompletesEveryRequestLaterAndItsThreadsCanBeJoined) {
    WorkerProcess::stopAll();  // earlier tests' workers
    const size_t threadsBefore = threadCount();
    fake("HANG", "1");
    auto t = make();
    Outcome& inFlight = send(*t);
    ASSERT_TRUE(QTest::qWaitFor([&] { return t->state() == State::ready; }, 5000));
    Outcome& queued = send(*t);
    t.reset();
    EXPECT_FALSE(inFlight.done || queued.done) << "not inside the destructor";
    EXPECT_EQ(textOf(queued), std::nullopt);
    EXPECT_EQ(inFlight.text, std::nullopt);
    WorkerProcess::stopAll();  // what the program does before its application object goes
    EXPECT_EQ(threadCount(), threadsBefore) << "no reader, waiter or killer thread left";
}

TEST_F(TranscriberTest, AFloodWaitsForTheMainThreadInsteadOfFillingMemory) {
    fake("FLOOD", std::to_string(64 << 20));
    fake("FLOOD_NEWLINE", "1");
    auto t = make(3000ms, 30000ms);  // the main thread stalls on purpose
    Outcome& outcome = send(*t);
    ASSERT_TRUE(QTest::qWaitFor([&] { return t->state() == State::ready; }, 5000));
    // The main thread is busy while the worker floods: what waits for it must stay small, so the
    // worker cannot finish its flood before the main thread reads it.
    const long before = residentBytes();
    for (int i = 0; i < 200 && readFile(home() / "record.jsonl").find("flooded") == std::string::npos; ++i)
        ::usleep(10000);
    EXPECT_LT(residentBytes() - before, 16l << 20);
    EXPECT_EQ(textOf(outcome), "text 1");
}

}  // namespace
}  // namespace quorvel
