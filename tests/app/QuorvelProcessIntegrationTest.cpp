// The `quorvel` binary as a process, in a temporary HOME, with the real worker and the built-in
// English recogniser on speech synthesised by flite.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <csignal>
#include <fstream>
#include <sstream>

#include "support/RunProcess.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

const QString kQuorvel = QString(QUORVEL_BINARY_DIR) + "/bin/quorvel";

struct Result {
    int status = -1;
    std::string out, err;
};

class QuorvelProcessTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        writeFile(home() / ".local/share/Quorvel/config.json",
                  R"({"modes":[{"name":"English","language":"en","sttModelID":"pocketsphinx-en-us"}]})");
        writeFile(home() / ".local/share/Quorvel/vocab.json", R"({"fox":"wolf"})");
    }

    std::filesystem::path speak(const std::string& name, const std::string& text) {
        const auto path = home() / name;
        const QStringList args{"-voice", "kal16", "-t", QString::fromStdString(text), "-o", QString::fromStdString(path.string())};
        EXPECT_TRUE(testing::runProcess("flite", args).succeeded);
        return path;
    }

    void start(QProcess& process, const QStringList& arguments, const std::map<QString, QString>& extra = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(home().string()));
        for (const char* name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "QUORVEL_TEST_WAVS",
                                 "QUORVEL_TEST_OUT", "QUORVEL_STRESS", "QUORVEL_PROBE",
                                 // Everything here must work without a display.
                                 "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("TMPDIR", QString::fromStdString((home() / "tmp").string()));
        std::filesystem::create_directories(home() / "tmp");
        for (const auto& [key, value] : extra) env.insert(key, value);
        process.setProcessEnvironment(env);
        process.start(kQuorvel, arguments);
    }

    Result run(const QStringList& arguments, const std::map<QString, QString>& extra = {}) {
        QProcess process;
        start(process, arguments, extra);
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "quorvel did not finish";
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
    }

    std::string log() const { return readFile(home() / ".local/state/Quorvel/quorvelmac.log"); }

    // What one-off runs left in the temporary folder (their request audio is the user's speech).
    std::string leftovers() const {
        std::string found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home() / "tmp"))
            if (entry.path().filename().string().rfind("run-", 0) == 0) found += entry.path().string() + " ";
        return found;
    }
};

TEST_F(QuorvelProcessTest, WavListRunWritesDecodeLinesFirstThenCorrectedResults) {
    const auto fox = speak("fox.wav", "The quick brown fox jumps over the lazy dog.");
    const auto window = speak("window.wav", "Please open the window.");
    const auto notWav = writeFile(home() / "notes.wav", "this is not audio at all, just text");
    const auto list = writeFile(home() / "list.tsv",
                                fox.string() + "\tthe quick brown wolf jumped over the lazy dog\n" +
                                    window.string() + "\n\n" + notWav.string() + "\tanything\n" +
                                    (home() / "missing.wav").string() + "\n");
    const auto out = home() / "results" / "out.jsonl";
    const Result r = run({}, {{"QUORVEL_TEST_WAVS", QString::fromStdString(list.string())},
                              {"QUORVEL_TEST_OUT", QString::fromStdString(out.string())}});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> results;
    std::istringstream in(readFile(out));
    for (std::string line; std::getline(in, line);) results.push_back(line);
    ASSERT_EQ(results.size(), 4u) << readFile(out);
    EXPECT_EQ(results[0], R"({"file":")" + notWav.string() + R"(","error":"decode"})");
    EXPECT_EQ(results[1], R"({"file":")" + (home() / "missing.wav").string() + R"(","error":"decode"})");
    EXPECT_NE(results[2].find(R"("got":"the quick brown wolf)"), std::string::npos)
        << "vocabulary applied: " << results[2];
    EXPECT_NE(results[2].find(R"("ok":"exact")"), std::string::npos) << results[2];
    EXPECT_NE(results[3].find(R"("expected":"","got":"please open the window","ok":"?","elapsed_s":)"),
              std::string::npos) << results[3];
    EXPECT_EQ(leftovers(), "");
}

TEST_F(QuorvelProcessTest, UnreadableListOrUnwritableResultsEndTheRunWithAnErrorLineAndStatus1) {
    EXPECT_EQ(run({}, {{"QUORVEL_TEST_WAVS", QString::fromStdString((home() / "nope.tsv").string())}}).status, 1);
    EXPECT_NE(log().find("ERROR: не читается список: " + (home() / "nope.tsv").string()), std::string::npos);

    const auto list = writeFile(home() / "list.tsv", (home() / "missing.wav").string() + "\n");
    const auto out = writeFile(home() / "not-a-folder", "") / "out.jsonl";
    EXPECT_EQ(run({}, {{"QUORVEL_TEST_WAVS", QString::fromStdString(list.string())},
                       {"QUORVEL_TEST_OUT", QString::fromStdString(out.string())}}).status, 1);
    EXPECT_NE(log().find("ERROR: результаты не записаны: " + out.string()), std::string::npos) << log();
}

TEST_F(QuorvelProcessTest, TranscribePrintsTextOrJsonAndNeverSubstitutesAMissingModel) {
    const QString fox = QString::fromStdString(speak("fox.wav", "The quick brown fox jumps over the lazy dog.").string());
    Result r = run({"transcribe", fox});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "the quick brown wolf jumped over the lazy dog\n") << "the mode's model and the vocabulary";

    r = run({"transcribe", "--model", "pocketsphinx-en-us", "--json", fox, QString::fromStdString((home() / "missing.wav").string())});
    EXPECT_EQ(r.status, 1) << "one file failed";
    EXPECT_NE(r.err.find("missing.wav: not a readable 16-bit WAV file"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(R"("model":"pocketsphinx-en-us","ok":true)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"("text":"the quick brown wolf jumped over the lazy dog")"), std::string::npos) << r.out;

    r = run({"transcribe", "--model", "gigaam-v2-ru", fox});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("model \"gigaam-v2-ru\" (GigaAM v2 Russian) is not installed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("pocketsphinx-en-us"), std::string::npos) << "installed models are listed";
    EXPECT_TRUE(r.out.empty());
    r = run({"transcribe", "--model", "no-such-model", fox});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown model \"no-such-model\""), std::string::npos) << r.err;
}

// Ctrl+C, a logout or a kill ends a run through the event loop: the exit status says which
// signal, and the worker it started does not outlive it.
TEST_F(QuorvelProcessTest, ASignalEndsARunWithItsStatusAndTakesTheWorkerAlong) {
    const QString fox = QString::fromStdString(speak("short.wav", "Hello there.").string());
    const auto pidFile = home() / "worker.pid";
    const auto hang = home() / "never-ready.sh";  // stands in for the interpreter: never says "ready"
    writeFile(hang, "#!/bin/sh\necho $$ > '" + pidFile.string() + "'\nexec sleep 600\n");
    std::filesystem::permissions(hang, std::filesystem::perms::owner_all);
    writeFile(home() / ".local/share/Quorvel/config.json",
              R"({"pythonPath":")" + hang.string() + R"(","modes":[{"name":"English","language":"en","sttModelID":"pocketsphinx-en-us"}]})");
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        std::filesystem::remove(pidFile);
        QProcess process;
        start(process, {"transcribe", fox});
        ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(pidFile) && std::filesystem::file_size(pidFile) > 0; }, 20000));
        ::kill(static_cast<pid_t>(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(15000)) << "signal " << signal;
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "signal " << signal;
        EXPECT_EQ(process.exitCode(), 128 + signal);
        int workerPid = 0;
        std::ifstream(pidFile) >> workerPid;
        ASSERT_GT(workerPid, 0);
        const auto workerEnded = [&] {
            std::ifstream stat("/proc/" + std::to_string(workerPid) + "/stat");
            std::string pid, name, state;
            return !(stat >> pid >> name >> state) || state == "Z";
        };
        EXPECT_TRUE(QTest::qWaitFor(workerEnded, 5000)) << "worker " << workerPid << " after signal " << signal;
        EXPECT_EQ(leftovers(), "") << "signal " << signal;
    }
}

TEST_F(QuorvelProcessTest, UsageErrorsAndNoDisplay) {
    for (const QStringList& args : {QStringList{"transcribe"}, QStringList{"transcribe", "--model"}, QStringList{"frobnicate"}})
        EXPECT_EQ(run(args).status, 2) << args.join(' ').toStdString();
    // Without arguments it is the tray program, which says plainly that it needs a desktop.
    const Result tray = run({});
    EXPECT_EQ(tray.status, 1);
    EXPECT_NE(tray.err.find("no display (DISPLAY is not set)"), std::string::npos) << tray.err;
}

}  // namespace
}  // namespace quorvel
