// The worker client against real child processes: the scriptable fake worker of
// tests/fixtures drives every fault, with short time-outs.
#include <signal.h>

#include <QTest>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/WavDecoder.h"
#include "services/Log.h"
#include "services/Transcriber.h"
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
        for (const char* name : {"READY_DELAY", "NO_READY", "FATAL_AT_START", "TEXT", "OMIT_TEXT", "WRONG_ID",
                                 "GARBAGE", "SPLIT_WRITES", "FLOOD", "FLOOD_NEWLINE", "FATAL_ON", "FATAL_STAY",
                                 "DIE_AFTER", "EXIT_CODE", "HANG", "HANG_AFTER", "RECORD", "STRAY_BEFORE", "REPLY_DELAY", "REPEAT_REPLY"})
            unfake(name);
        fake("RECORD", (home() / "record.jsonl").string());
        fake("TEXT", "text {id}");
        Log::setFile(home() / "quorvel.log");
        std::filesystem::create_directories(modelA_);
        std::filesystem::create_directories(modelB_);
    }

    static void fake(const char* name, const std::string& value) {
        ::setenv(("FAKE_WORKER_" + std::string(name)).c_str(), value.c_str(), 1);
    }
    static void unfake(const char* name) { ::unsetenv(("FAKE_WORKER_" + std::string(name)).c_str()); }

    std::unique_ptr<Transcriber> make(std::chrono::milliseconds startTimeout = 3000ms,
                                      std::chrono::milliseconds requestTimeout = 3000ms) {
        Transcriber::Options options;
        options.startTimeout = startTimeout;
        options.requestTimeout = requestTimeout;
        options.workerURL = kFakeWorker;
        options.tempDir = home() / "tmp";
        auto transcriber = std::make_unique<Transcriber>("/usr/bin/python3", [this] { return prefs_; }, options);
        transcriber->onStateChange = [this](State s) { states_.push_back(s); };
        return transcriber;
    }

    Outcome& send(Transcriber& t, std::vector<float> samples = std::vector<float>(1600, 0.1f)) {
        Outcome* outcome = outcomes_.emplace_back(std::make_unique<Outcome>()).get();
        t.transcribe(std::move(samples), [outcome](std::optional<std::string> text) {
            EXPECT_FALSE(outcome->done) << "a completion runs at most once";
            outcome->done = true;
            outcome->text = std::move(text);
        });
        return *outcome;
    }

    static bool waitDone(const Outcome& outcome) {
        return QTest::qWaitFor([&] { return outcome.done; }, 8000);
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
    auto t = make();
    Outcome& empty = send(*t, {});
    EXPECT_TRUE(empty.done) << "empty input completes at once, without a worker or an id";
    EXPECT_EQ(empty.text, "");
    EXPECT_EQ(t->state(), State::stopped);
    EXPECT_FALSE(t->workerPid());
    writeFile(home() / "tmp/req_1.txt", "первый ответ");  // the fake's transcript beside the WAV
    Outcome& first = send(*t);
    Outcome& second = send(*t);
    EXPECT_EQ(t->state(), State::starting);
    ASSERT_TRUE(waitDone(second));
    EXPECT_EQ(first.text, "первый ответ");
    EXPECT_EQ(second.text, "text 2");
    EXPECT_EQ(t->state(), State::ready);
    EXPECT_EQ(states_, (std::vector<State>{State::starting, State::ready}));
    EXPECT_FALSE(std::filesystem::exists(home() / "tmp/req_1.wav")) << "answered requests leave no file";

    const std::string record = readFile(home() / "record.jsonl");
    EXPECT_NE(record.find(R"({\"id\":1,\"wav\":\")" + (home() / "tmp/req_1.wav").string()), std::string::npos) << record;
    EXPECT_NE(record.find("--model-dir"), std::string::npos);
    EXPECT_TRUE(logged("INFO: worker стартовал: /usr/bin/python3 " + kFakeWorker.string()));
    EXPECT_TRUE(logged("INFO: stdout read thread: fd="));
    EXPECT_TRUE(logged("INFO: STT request #2 отправлен (1600 samples)"));
    EXPECT_TRUE(logged("INFO: STT #1 → первый ответ"));
}

TEST_F(TranscriberTest, SplitLinesGarbageMissingTextAndFloodsAreHandled) {
    struct Case {
        std::vector<std::pair<const char*, std::string>> faults;
        std::optional<std::string> text;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {{{"SPLIT_WRITES", "3"}, {"GARBAGE", "1"}, {"OMIT_TEXT", "1"}}, "",  // no text: the empty string
         {"WARN: worker: неразборчивый вывод: not json at all", "WARN: worker: неразборчивый вывод: ?"}},
        {{{"FLOOD", std::to_string(2 * 1024 * 1024 + 17)}, {"FLOOD_NEWLINE", "1"}}, "text 1",  // the next line counts
         {"WARN: worker: строка вывода длиннее 1048576 байт отброшена"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults[0].first);
        for (const auto& [name, value] : c.faults) fake(name, value);
        auto t = make();
        Outcome& outcome = send(*t);
        ASSERT_TRUE(waitDone(outcome));
        EXPECT_EQ(outcome.text, c.text);
        for (const std::string& line : c.lines) EXPECT_TRUE(logged(line));
        for (const auto& fault : c.faults) unfake(fault.first);
    }
}

TEST_F(TranscriberTest, StrayReplyKeepsTheTimeOutAndTheWorkerIsRestartedForTheQueue) {
    fake("WRONG_ID", "1");
    auto t = make(3000ms, 800ms);
    Outcome& lost = send(*t);
    ASSERT_TRUE(QTest::qWaitFor([&] { return t->state() == State::ready; }, 5000));
    const pid_t firstPid = *t->workerPid();
    unfake("WRONG_ID");
    Outcome& queued = send(*t);
    ASSERT_TRUE(waitDone(lost));
    EXPECT_EQ(lost.text, std::nullopt);
    ASSERT_TRUE(waitDone(queued));
    EXPECT_EQ(queued.text, "text 2") << "the queued request goes to the new worker";
    EXPECT_NE(*t->workerPid(), firstPid);
    EXPECT_TRUE(logged("WARN: STT: ответ на несуществующий запрос #1001"));
    EXPECT_TRUE(logged("ERROR: STT request #1 timeout"));
    EXPECT_TRUE(logged("INFO: STT worker restart запрошен"));
}

TEST_F(TranscriberTest, FatalLineFailsWhatWaitsStopsTheOldWorkerAndTheNextRequestStartsAgain) {
    fake("FATAL_ON", "1");
    fake("FATAL_STAY", "1");
    fake("REPLY_DELAY", "0.2");
    auto t = make();
    Outcome& first = send(*t);
    Outcome& second = send(*t);
    const pid_t stubborn = *t->workerPid();
    ASSERT_TRUE(waitDone(first));
    EXPECT_EQ(first.text, std::nullopt);
    EXPECT_EQ(t->state(), State::failed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::kill(stubborn, 0) != 0; }, 5000)) << "the old worker is stopped";
    // Nothing would start a worker for it: the queued request must not wait forever.
    ASSERT_TRUE(waitDone(second));
    EXPECT_EQ(second.text, std::nullopt);
    EXPECT_TRUE(logged("ERROR: worker fatal: fake fatal"));

    unfake("FATAL_ON");
    Outcome& third = send(*t);
    ASSERT_TRUE(waitDone(third));
    EXPECT_EQ(third.text, "text 3");
}

TEST_F(TranscriberTest, WorkerDeathFailsEverythingWaitingAndLogsTheExit) {
    fake("DIE_AFTER", "1");
    fake("EXIT_CODE", "3");
    auto t = make();
    Outcome& first = send(*t);
    ASSERT_TRUE(waitDone(first));
    EXPECT_EQ(first.text, "text 1");
    Outcome& second = send(*t);
    Outcome& third = send(*t);
    ASSERT_TRUE(waitDone(third));
    EXPECT_EQ(second.text, std::nullopt);
    EXPECT_EQ(third.text, std::nullopt);
    EXPECT_EQ(t->state(), State::failed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return logged("worker terminated: exit code 3"); }, 5000));
    EXPECT_TRUE(logged("WARN: stdout read завершён (fd="));
    EXPECT_TRUE(std::filesystem::exists(home() / "tmp/req_2.wav")) << "files of failed requests stay";
}

TEST_F(TranscriberTest, WritingToAWorkerThatIsGoneIsAWorkerDeathNotACrash) {
    auto t = make();
    ASSERT_TRUE(waitDone(send(*t)));
    const pid_t pid = *t->workerPid();
    ::kill(pid, SIGKILL);
    // Do not let the event loop run: the death notice must still be pending when we write.
    for (int i = 0; i < 2000 && ::kill(pid, 0) == 0; ++i) ::usleep(1000);
    Outcome& outcome = send(*t);
    ASSERT_TRUE(waitDone(outcome));
    EXPECT_EQ(outcome.text, std::nullopt);
    EXPECT_EQ(t->state(), State::failed);
}

TEST_F(TranscriberTest, WorkerThatNeverGetsReadyIsDeclaredDeadAndStopped) {
    fake("NO_READY", "1");
    auto t = make(500ms);
    Outcome& first = send(*t);
    Outcome& second = send(*t);
    const pid_t pid = *t->workerPid();
    ASSERT_TRUE(waitDone(second));
    EXPECT_EQ(first.text, std::nullopt);
    EXPECT_EQ(t->state(), State::failed);
    EXPECT_TRUE(logged("ERROR: worker не стал ready за 40 с (см. worker_stderr.log)"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::kill(pid, 0) != 0; }, 5000)) << "the stuck worker is not left behind";
}

TEST_F(TranscriberTest, ChangedModelRestartsTheWorkerWithNewArguments) {
    auto t = make();
    ASSERT_TRUE(waitDone(send(*t)));
    prefs_ = WorkerPrefs{modelB_.string(), "whisper", ""};
    Outcome& outcome = send(*t);
    ASSERT_TRUE(waitDone(outcome));
    EXPECT_EQ(outcome.text, "text 2");
    EXPECT_TRUE(logged("INFO: prefs модели изменились (" + modelA_.string() + " → " + modelB_.string() + ") — restart"));
    const std::string record = readFile(home() / "record.jsonl");
    EXPECT_NE(record.find(R"("--model-type", "whisper", "--language", "")"), std::string::npos) << record;
}

TEST_F(TranscriberTest, HungRequestsAudioIsA16kHzWavAndARestartFailsItWithoutHarmingTheNewWorker) {
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
    EXPECT_TRUE(hung.done);
    EXPECT_EQ(hung.text, std::nullopt);
    Outcome& next = send(*t);
    ASSERT_TRUE(waitDone(next));
    EXPECT_EQ(next.text, "text 2");
    EXPECT_EQ(t->state(), State::ready);
}

TEST_F(TranscriberTest, MissingPiecesFailTheStartAndTheWaitingRequest) {
    const std::vector<std::tuple<std::optional<WorkerPrefs>, std::string, std::string>> cases{
        {std::nullopt, "/usr/bin/python3", "ERROR: модель STT недоступна (не скачана?)"},
        {WorkerPrefs{"/nonexistent/model", "nemo", "ru"}, "/usr/bin/python3",
         "ERROR: каталог модели не существует: /nonexistent/model"},
        {prefs_, "/nonexistent/python3", "ERROR: python не найден: /nonexistent/python3"},
    };
    for (const auto& [prefs, python, line] : cases) {
        prefs_ = prefs;
        auto t = make();
        t->setPythonPath(python);
        Outcome& outcome = send(*t);
        EXPECT_FALSE(outcome.done) << "completions never run inside transcribe(): " << line;
        ASSERT_TRUE(waitDone(outcome)) << line;
        EXPECT_EQ(outcome.text, std::nullopt);
        EXPECT_EQ(t->state(), State::failed);
        EXPECT_TRUE(logged(line));
    }
    Transcriber::Options noScript;
    noScript.tempDir = home() / "tmp";
    Transcriber withoutScript("/usr/bin/python3", [this] { return prefs_; }, noScript);
    withoutScript.transcribe({0.1f}, [](std::optional<std::string>) {});
    EXPECT_EQ(withoutScript.state(), State::failed);
    EXPECT_TRUE(logged("ERROR: stt_worker.py не найден"));
}

TEST_F(TranscriberTest, ACompletionMayReleaseTheClient) {
    std::unique_ptr<Transcriber> t = make();
    bool done = false;
    t->transcribe(std::vector<float>(1600, 0.1f), [&](std::optional<std::string> text) {
        EXPECT_EQ(text, "text 1");
        t.reset();  // the last owner lets go from inside the reply's handling
        done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 8000));
}

TEST_F(TranscriberTest, UnwritableRequestAudioFailsThatRequestAndTheNextOneGoesOut) {
    auto t = make();
    ASSERT_TRUE(waitDone(send(*t)));
    std::filesystem::remove_all(home() / "tmp");
    writeFile(home() / "tmp", "a file where the request folder should be");
    Outcome& failed = send(*t);
    EXPECT_TRUE(failed.done) << "no worker round trip for a request that could not be written";
    EXPECT_EQ(failed.text, std::nullopt);
    EXPECT_TRUE(logged("ERROR: wav write failed: cannot write " + (home() / "tmp/req_2.wav").string()));
    std::filesystem::remove(home() / "tmp");
    std::filesystem::create_directories(home() / "tmp");
    Outcome& next = send(*t);
    ASSERT_TRUE(waitDone(next));
    EXPECT_EQ(next.text, "text 3");
}

}  // namespace
}  // namespace quorvel
