// The real `quorvel` tray program in a private desktop (tests/desktop/with-desktop) and a
// temporary HOME set up for the built-in English model: the record key held with XTest while
// synthesised speech plays into the virtual microphone puts the words into another process's
// text field, with a history entry, its audio and the timing line. A second copy hands over to
// the first and leaves.
#include "core/HistoryStore.h"

#include <QProcess>
#include <QTest>
#include <cstdlib>
#include <string>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/ModelCatalog.h"
#include "core/WavDecoder.h"
#include "support/FieldApp.h"
#include "support/TempHome.h"
#include "support/WordError.h"
#include "support/XTestKeys.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
constexpr unsigned kSuperR = 134;

class TrayProgramDesktopTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        if (!std::getenv("QUORVEL_TEST_MIC_SINK")) GTEST_SKIP() << "no desktop: run under tests/desktop/with-desktop";
        keys_ = testing::openInjector();
        ASSERT_NE(keys_, nullptr);
        ConfigStore config(AppPaths::configURL());
        config.update([](AppConfig& c) {
            c.modes.front().sttModelID = "pocketsphinx-en-us";
            c.modes.front().language = "en";
            c.activeModeID = c.modes.front().id;
            c.punctRestore = false;  // no language model on this machine
            c.soundProfile = "off";
        });
        config.save();
    }
    void TearDown() override {
        for (QProcess* program : {&second_, &first_}) {
            if (program->state() == QProcess::NotRunning) continue;
            program->terminate();
            if (!program->waitForFinished(10000)) program->kill();
            program->waitForFinished(3000);
        }
        if (keys_) testing::closeInjector(keys_);
        TempHome::TearDown();
    }

    static void startQuorvel(QProcess& program) {
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QUORVEL_BINARY_DIR "/bin/quorvel", QStringList{});
    }
    static std::string log() { return readFile(AppPaths::logURL()); }
    static bool waitForLog(const std::string& text, int ms) {
        return QTest::qWaitFor([&] { return log().find(text) != std::string::npos; }, ms);
    }
    static bool runToEnd(const QString& program, const QStringList& args) {
        QProcess process;
        process.start(program, args);
        const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000);
        return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    _XDisplay* keys_ = nullptr;
    QProcess first_, second_;
};

TEST_F(TrayProgramDesktopTest, HeldRecordKeyPutsTheSpokenWordsIntoTheFocusedFieldAndKeepsThem) {
    const std::string sentence = "the weather is nice today so we will walk to the park after lunch";
    const QString wav = QString::fromStdString((home() / "speech.wav").string());
    ASSERT_TRUE(runToEnd("flite", {"-voice", "kal16", "-t", QString::fromStdString(sentence), "-o", wav}));

    startQuorvel(first_);
    ASSERT_TRUE(waitForLog("готов. Хоткей: ", 20000)) << log();
    testing::FieldApp field(home() / "field.txt");
    ASSERT_TRUE(field.waitUntilFocused());

    testing::fakeKey(keys_, kSuperR, true);
    ASSERT_TRUE(waitForLog("recorder started", 10000)) << log();
    ASSERT_TRUE(runToEnd("paplay", {"--latency-msec=20", "-d", qEnvironmentVariable("QUORVEL_TEST_MIC_SINK"), wav}));
    QTest::qWait(500);  // the last words reach the recording
    testing::fakeKey(keys_, kSuperR, false);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !field.text().empty(); }, 60000)) << log();
    EXPECT_LE(testing::wordError(sentence, field.text()), 0.3) << field.text();
    ASSERT_TRUE(waitForLog("PIPELINE stop→paste: ", 5000)) << log();

    const HistoryStore history(AppPaths::historyURL(), AppPaths::recordingsDir());
    const auto entries = history.read(10);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].modelName, ModelCatalog::model("pocketsphinx-en-us")->name);
    EXPECT_EQ(entries[0].text, field.text());
    ASSERT_TRUE(entries[0].audioPath);
    const auto audio = decodeWav(readFile(AppPaths::recordingsDir() / *entries[0].audioPath));
    ASSERT_TRUE(audio) << *entries[0].audioPath;
    EXPECT_GT(audio->size(), 16000u * 3) << "the whole sentence is kept";

    // A second copy names the first, hands over and leaves; the first keeps running.
    startQuorvel(second_);
    ASSERT_TRUE(second_.waitForFinished(10000));
    EXPECT_EQ(second_.exitCode(), 0);
    EXPECT_NE(log().find("другой экземпляр уже запущен (pid " + std::to_string(first_.processId()) +
                         ") — активирую его и выхожу"),
              std::string::npos)
        << log();
    EXPECT_EQ(first_.state(), QProcess::Running);
}

}  // namespace
}  // namespace quorvel
