// The `quorvel` binary as a process, in a temporary HOME, with the real worker and the built-in
// English recogniser on speech synthesised by flite.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <csignal>
#include <fstream>

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

    // Starts the program in an environment of its own: everything here must work without a display.
    void start(QProcess& process, const QStringList& arguments, const std::map<QString, QString>& extra = {}) {
        QProcessEnvironment env;
        env.insert("PATH", qEnvironmentVariable("PATH"));
        env.insert("HOME", QString::fromStdString(home().string()));
        env.insert("TMPDIR", QString::fromStdString((home() / "tmp").string()));
        std::filesystem::create_directories(home() / "tmp");
        for (const auto& [key, value] : extra) env.insert(key, value);
        process.setProcessEnvironment(env);
        process.start(kQuorvel, arguments);
    }

    Result run(const QStringList& arguments, const std::map<QString, QString>& extra = {}) {
        QProcess process;
        start(process, arguments, extra);
        EXPECT_TRUE(process.waitForFinished(120000)) << "quorvel did not finish";  // it is killed on the way out
        const bool ended = process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit;
        return {ended ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
    }

    // A run over the WAV list `list` that writes its results to `out`.
    Result runList(const std::filesystem::path& list, const std::filesystem::path& out) {
        return run({}, {{"QUORVEL_TEST_WAVS", QString::fromStdString(list.string())},
                        {"QUORVEL_TEST_OUT", QString::fromStdString(out.string())}});
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

// A WAV list run writes the files it cannot decode first, then the recognised and corrected
// results; a list it cannot read or results it cannot write end the run with an error line and
// status 1.
TEST_F(QuorvelProcessTest, WavListRunWritesDecodeLinesFirstThenCorrectedResultsOrFails) {
    const auto fox = speak("fox.wav", "The quick brown fox jumps over the lazy dog.");
    const auto notWav = writeFile(home() / "notes.wav", "this is not audio at all, just text");
    const std::string corrected = "the quick brown wolf jumped over the lazy dog";  // "fox" by the vocabulary
    const auto list = writeFile(home() / "list.tsv", fox.string() + "\t" + corrected + "\n" + notWav.string() + "\n");
    const auto out = home() / "results" / "out.jsonl";
    const Result r = runList(list, out);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string results = readFile(out);
    EXPECT_TRUE(results.starts_with(R"({"file":")" + notWav.string() + R"(","error":"decode"})" "\n")) << results;
    EXPECT_NE(results.find(R"("got":")" + corrected + R"(","ok":"exact")"), std::string::npos) << results;
    EXPECT_EQ(leftovers(), "");

    EXPECT_EQ(runList(home() / "nope.tsv", out).status, 1);
    EXPECT_NE(log().find("ERROR: не читается список: " + (home() / "nope.tsv").string()), std::string::npos);
    const auto unwritable = writeFile(home() / "not-a-folder", "") / "out.jsonl";
    EXPECT_EQ(runList(list, unwritable).status, 1);
    EXPECT_NE(log().find("ERROR: результаты не записаны: " + unwritable.string()), std::string::npos) << log();
}

// The command line: transcribe prints text or JSON and never substitutes a missing model; a wrong
// command line is a usage error; no command is the tray program, which needs a display.
TEST_F(QuorvelProcessTest, TranscribeUsageErrorsAndNoDisplay) {
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

    for (const QStringList& args : {QStringList{"transcribe"}, QStringList{"transcribe", "--model"}, QStringList{"frobnicate"}})
        EXPECT_EQ(run(args).status, 2) << args.join(' ').toStdString();
    // Without arguments it is the tray program, which says plainly that it needs a desktop.
    const Result tray = run({});
    EXPECT_EQ(tray.status, 1);
    EXPECT_NE(tray.err.find("no display (DISPLAY is not set)"), std::string::npos) << tray.err;
}

// Ctrl+C (like a logout or a kill) ends a run through the event loop: the exit status says which
// signal, and the worker it started does not outlive it.
TEST_F(QuorvelProcessTest, ASignalEndsARunWithItsStatusAndTakesTheWorkerAlong) {
    const QString fox = QString::fromStdString(speak("short.wav", "Hello there.").string());
    const auto pidFile = home() / "worker.pid";
    const auto hang = home() / "never-ready.sh";  // stands in for the interpreter: never says "ready"
    writeFile(hang, "#!/bin/sh\necho $$ > '" + pidFile.string() + "'\nexec sleep 600\n");
    std::filesystem::permissions(hang, std::filesystem::perms::owner_all);
    writeFile(home() / ".local/share/Quorvel/config.json",
              R"({"pythonPath":")" + hang.string() + R"(","modes":[{"name":"English","language":"en","sttModelID":"pocketsphinx-en-us"}]})");
    QProcess process;
    start(process, {"transcribe", fox});
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(pidFile) && std::filesystem::file_size(pidFile) > 0; }, 20000));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(15000));
    EXPECT_EQ(process.exitCode(), 128 + SIGINT);
    int workerPid = 0;
    std::ifstream(pidFile) >> workerPid;
    ASSERT_GT(workerPid, 0);
    const auto workerEnded = [&] {
        std::ifstream stat("/proc/" + std::to_string(workerPid) + "/stat");
        std::string pid, name, state;
        return !(stat >> pid >> name >> state) || state == "Z";
    };
    EXPECT_TRUE(QTest::qWaitFor(workerEnded, 5000)) << "worker " << workerPid;
    EXPECT_EQ(leftovers(), "");
}

}  // namespace
}  // namespace quorvel
