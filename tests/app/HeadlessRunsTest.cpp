// The `quorvel` binary's stress and probe runs as processes, in a temporary HOME, without a
// display: the real worker with the built-in English recogniser on flite speech, and a loopback
// HTTP server standing in for the language model.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <csignal>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "app/HeadlessRunner.h"
#include "app/ProbeRuns.h"
#include "core/AppPaths.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using Env = std::map<QString, QString>;

testing::HttpResponse punctuated(const std::string& text) {
    testing::HttpResponse response;
    response.body = nlohmann::json{{"model", "m"}, {"response", text}, {"done", true}}.dump();
    return response;
}

class HeadlessRunsTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        ASSERT_TRUE(server_.isListening());
        writeFile(AppPaths::vocabURL(), R"({"fox":"wolf"})");
        useLanguageModel(server_.url("/api/generate"));
    }

    void useLanguageModel(const std::string& url) {
        writeFile(AppPaths::configURL(), R"({"sttModelID":"pocketsphinx-en-us","ollamaURL":")" + url +
                                             R"(","modes":[{"name":"English","language":"en","sttModelID":"pocketsphinx-en-us"}]})");
    }

    std::filesystem::path speak(const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        QProcess flite;
        flite.start("flite", {"-voice", "kal16", "-t", QString::fromStdString(text), "-o", QString::fromStdString(path.string())});
        EXPECT_TRUE(flite.waitForFinished(30000));
        return path;
    }

    // Starts the program with `extra` on top of an environment without any display.
    void start(QProcess& process, const Env& extra) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QUORVEL_TEST_WAVS", "QUORVEL_STRESS", "QUORVEL_STRESS_WAV", "QUORVEL_PROBE",
                                 "QUORVEL_FORCE_MIC_STATUS", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("TMPDIR", QString::fromStdString((home() / "tmp").string()));
        std::filesystem::create_directories(home() / "tmp");
        for (const auto& [key, value] : extra) env.insert(key, value);
        process.setProcessEnvironment(env);
        process.start(QString(QUORVEL_BINARY_DIR) + "/bin/quorvel", QStringList{});
    }

    // The exit status; the event loop keeps running meanwhile, so the loopback server answers.
    int run(const Env& extra, int timeoutMs = 60000) {
        QProcess process;
        start(process, extra);
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "quorvel did not finish\n" << log();
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    std::string log() const { return readFile(AppPaths::logURL()); }

    void expectLines(const std::vector<std::string>& patterns, const std::string& what) {
        const std::string text = log();
        for (const auto& pattern : patterns)
            EXPECT_TRUE(std::regex_search(text, std::regex("\\d{3} " + pattern + "\n"))) << what << ": " << pattern << "\n" << text;
    }

    testing::LoopbackHttpServer server_;
};

TEST_F(HeadlessRunsTest, StressCyclesRecogniseEveryTimeAndCountEmptyResultsAsFailures) {
    // A short sentence keeps the 200 recognitions within a couple of minutes; the limit only
    // catches a hang on a busy machine.
    const auto wav = speak(home() / "stress.wav", "Hello there.");
    EXPECT_EQ(run({{"QUORVEL_STRESS", "200"}, {"QUORVEL_STRESS_WAV", QString::fromStdString(wav.string())},
                   {"QT_QPA_PLATFORM", "offscreen"}}, 900000), 0);
    expectLines({"INFO: STRESS DONE: 200 cycles, failures=0"}, "flite sentence");
    // Nothing leaks per cycle: after the warm-up, memory stays within 5 MB and no descriptor or
    // thread is added.
    std::smatch used;
    const std::string text = log();
    ASSERT_TRUE(std::regex_search(text, used, std::regex("STRESS RESOURCES: rss ([\\d.]+) MB after 20 cycles, ([\\d.]+) MB at end; "
                                                         "fds (\\d+)/(\\d+); threads (\\d+)/(\\d+)\n"))) << text;
    EXPECT_LE(std::stod(used[2]) - std::stod(used[1]), 5.0) << used[0];
    EXPECT_EQ(used[3], used[4]) << used[0];
    EXPECT_EQ(used[5], used[6]) << used[0];

    // Without a usable WAV every cycle recognises a second of near-silence: no text, so all
    // fail. A disk image in the WAV's place is refused by its size, not read into memory.
    std::filesystem::remove(AppPaths::logURL());
    const auto image = home() / "disk.img";
    writeFile(image, "");
    std::filesystem::resize_file(image, 300u << 20);  // sparse: no real disk space
    EXPECT_EQ(run({{"QUORVEL_STRESS", "+3"}, {"QUORVEL_STRESS_WAV", QString::fromStdString(image.string())}}), 1);
    expectLines({"WARN: QUORVEL_STRESS_WAV " + image.string() + ": larger than \\d+ bytes — recognising a second of quiet instead",
                 "INFO: STRESS DONE: 3 cycles, failures=3"}, "silence");
}

TEST_F(HeadlessRunsTest, AStressCountThatIsNoNumberOfCyclesStartsNothingAndTheProcessStaysIdle) {
    for (const QString count : {"many", "-1"}) {
        std::filesystem::remove(AppPaths::logURL());  // each run is read from its own log
        QProcess process;
        start(process, {{"QUORVEL_STRESS", count}});
        ASSERT_TRUE(QTest::qWaitFor([&] { return log().find("headless: nothing to run, staying idle") != std::string::npos; }, 30000));
        EXPECT_EQ(process.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        ASSERT_TRUE(process.waitForFinished(15000));
        EXPECT_EQ(process.exitCode(), 128 + SIGTERM);
        EXPECT_NE(log().find("QUORVEL_STRESS=" + count.toStdString() + " is not a number of cycles"), std::string::npos);
        EXPECT_EQ(log().find("STRESS DONE"), std::string::npos) << count.toStdString();
    }
}

TEST_F(HeadlessRunsTest, ProbesLogWhatTheySawAndEnd) {
    speak(home() / "quorvel/tests/audio/phrase1.wav", "The quick brown fox jumps over the lazy dog.");
    speak(home() / "quorvel/tests/audio/phrase3.wav", "Please open the window.");
    testing::LoopbackHttpServer closed;  // a port where nothing answers
    const std::string nowhere = closed.url("/api/generate");
    closed.close();

    std::vector<std::string> punctLines, failedLines;
    std::vector<testing::HttpResponse> answers;
    for (size_t i = 0; i < ProbeRuns::kPunctPhrases.size(); ++i) {
        const std::string phrase = ProbeRuns::kPunctPhrases[i];
        answers.push_back(punctuated(phrase + "."));
        punctLines.push_back("INFO: PUNCT\\[" + std::to_string(i) + "\\]: \\d+ ms → " + phrase + "\\.");
        failedLines.push_back("INFO: PUNCT\\[" + std::to_string(i) + "\\]: \\d+ ms → \\(сбой\\)");
    }
    punctLines.push_back("INFO: PUNCT PROBE DONE");
    failedLines.push_back("INFO: PUNCT PROBE DONE");

    struct Row {
        std::string name;
        Env env;
        std::vector<std::string> lines;
        std::string languageModel = {};  // URL; empty: the test's server
    };
    std::vector<Row> rows = {
        {"recorder, denied", {{"QUORVEL_PROBE", "recorder"}, {"QUORVEL_FORCE_MIC_STATUS", "2"}},
         {"INFO: PROBE recorder: micStatus=2 \\(forced\\)", "INFO: PROBE recorder: gate refused \\(status=2\\) — engine untouched"}},
        {"notice, denied", {{"QUORVEL_PROBE", "recordflow_denied"}, {"QUORVEL_FORCE_MIC_STATUS", "2"}},
         {"INFO: PROBE recordflow_denied: micStatus=2 \\(forced\\)", "INFO: PROBE recordflow_denied: overlay shown, engine untouched"}},
        {"notice, undecided", {{"QUORVEL_PROBE", "recordflow_denied"}, {"QUORVEL_FORCE_MIC_STATUS", "0"}},
         {"INFO: PROBE recordflow_denied: micStatus=0 \\(forced\\)", "INFO: PROBE recordflow_denied: access requested → not granted",
          "INFO: PROBE recordflow_denied: overlay shown, engine untouched"}},
        {"notice, malformed status is the desktop's", {{"QUORVEL_PROBE", "recordflow_denied"}, {"QUORVEL_FORCE_MIC_STATUS", "2x"}},
         {"INFO: PROBE recordflow_denied: micStatus=3"}},
        {"punctuation", {{"QUORVEL_PROBE", "punct"}}, punctLines},
        {"punctuation, no server", {{"QUORVEL_PROBE", "punct"}}, failedLines, nowhere},
        {"pipeline", {{"QUORVEL_PROBE", "pipeline"}},
         {"INFO: PIPELINE\\[1\\]: stop→paste \\d+\\.\\d\\d s", "INFO: PIPELINE\\[3\\]: stop→paste \\d+\\.\\d\\d s",
          "INFO: PIPELINE PROBE DONE"}},
        {"record flow, denied", {{"QUORVEL_PROBE", "flow"}, {"QUORVEL_FORCE_MIC_STATUS", "2"}},
         {"INFO: PROBE flow: micStatus=2 \\(forced\\)", "WARN: микрофон запрещён/ограничен — запись невозможна",
          "INFO: PROBE recordflow: state=idle"}},
    };
    // Only a session with an audio server (tests/desktop/with-desktop) has a microphone to open.
    if (qEnvironmentVariableIsSet("QUORVEL_TEST_MIC_SINK"))
        rows.push_back({"recorder, authorised", {{"QUORVEL_PROBE", "recorder"}, {"QUORVEL_FORCE_MIC_STATUS", "3"}},
                        {"INFO: PROBE recorder: micStatus=3 \\(forced\\)", "INFO: PROBE recorder.start\\(\\) → true"}});

    for (const Row& row : rows) {
        std::filesystem::remove(AppPaths::logURL());
        useLanguageModel(row.languageModel.empty() ? server_.url("/api/generate") : row.languageModel);
        server_.serve("/api/generate", answers);
        const size_t requestsBefore = server_.requests().size();
        EXPECT_EQ(run(row.env), 0) << row.name << "\n" << log();
        expectLines(row.lines, row.name);
        if (row.name == "pipeline") {
            // Recognition, then the vocabulary, then punctuation, file by file.
            ASSERT_EQ(server_.requests().size(), requestsBefore + 2) << log();
            const auto prompt = [&](size_t i) {
                return nlohmann::json::parse(server_.requests()[requestsBefore + i].body).value("prompt", "");
            };
            EXPECT_TRUE(prompt(0).ends_with("the quick brown wolf jumped over the lazy dog")) << prompt(0);
            EXPECT_TRUE(prompt(1).ends_with("please open the window")) << prompt(1);
        }
    }
}

TEST(HeadlessRunner, IntegersAreDecimalWithOptionalSign) {
    EXPECT_EQ(HeadlessRunner::parseInteger("12"), 12);
    EXPECT_EQ(HeadlessRunner::parseInteger("+3"), 3);
    EXPECT_EQ(HeadlessRunner::parseInteger("-2"), -2);
    for (const char* bad : {"", "+", "1x", " 1", "1.5", "99999999999999999999"})
        EXPECT_FALSE(HeadlessRunner::parseInteger(bad)) << bad;
}

}  // namespace
}  // namespace quorvel
