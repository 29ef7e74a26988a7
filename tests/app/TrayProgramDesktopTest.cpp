// The real `quorvel` tray program in a private desktop (tests/desktop/with-desktop) and a
// temporary HOME set up for the built-in English model, driven the way a user drives it: the
// record key held or tapped with XTest while synthesised speech plays into the virtual
// microphone, Esc, a mode's own key, a worker that dies in the middle of a request. The words
// land in another process's text field and in the history, statistics and recordings; the
// icon sits in the desktop's tray; a second copy hands over to the first and leaves.
#include "core/HistoryStore.h"

#include <QProcess>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/LocalTime.h"
#include "core/ModelCatalog.h"
#include "core/StatsStore.h"
#include "core/TextProcessing.h"
#include "core/Unicode.h"
#include "core/WavDecoder.h"
#include "support/FieldApp.h"
#include "support/RunProcess.h"
#include "support/TempHome.h"
#include "support/WordError.h"
#include "support/XTestKeys.h"
#include "support/XTrayProbe.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
constexpr unsigned kSuperR = 134, kEscape = 9, kF6 = 72;
const char* const kFieldClass = "Scratchpad";  // the field window's WM_CLASS class
const std::string kSentence = "the weather is nice today so we will walk to the park after lunch";

class TrayProgramDesktopTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        if (!std::getenv("QUORVEL_TEST_MIC_SINK")) GTEST_SKIP() << "no desktop: run under tests/desktop/with-desktop";
        keys_ = testing::openInjector();
        ASSERT_NE(keys_, nullptr);
        ConfigStore config(AppPaths::configURL());
        config.update([](AppConfig& c) {
            for (DictationMode* mode : {&c.modes[0], &c.modes[1]}) {
                mode->sttModelID = "pocketsphinx-en-us";
                mode->language = "en";
            }
            c.modes[1].shortcut = KeyCombo{.keyCode = 97};  // F6, as the configuration stores it
            c.activeModeID = c.modes[0].id;
            c.punctRestore = false;  // no language model on this machine
            c.soundProfile = "off";
            c.onboarded = true;  // the first-run panel would take the focus
        });
        config.save();
        modes_ = config.config().modes;
        const QString wav = QString::fromStdString((home() / "speech.wav").string());
        ASSERT_TRUE(testing::runProcess("flite", {"-voice", "kal16", "-t", QString::fromStdString(kSentence), "-o", wav}).succeeded);
    }
    void TearDown() override {
        for (QProcess* program : {&second_, &first_}) {
            program->terminate();
            if (!program->waitForFinished(10000)) program->kill();  // the destructor waits for it
        }
        field_.reset();
        if (keys_) testing::closeInjector(keys_);
        TempHome::TearDown();
    }

    // The program, ready for the record key, and a focused field in another process.
    void startProgramAndField() {
        startQuorvel(first_);
        // The settings window comes forward at every launch: the field opens after it.
        ASSERT_TRUE(waitForLog("окно настроек показано", 20000)) << log();
        QTest::qWait(500);
        field_ = std::make_unique<testing::FieldApp>(home() / "field.txt", QStringList{"--class", kFieldClass});
        ASSERT_TRUE(field_->waitUntilFocused());
    }
    static void startQuorvel(QProcess& program) {
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QUORVEL_BINARY_DIR "/bin/quorvel", QStringList{});
    }

    static std::string log() { return readFile(AppPaths::logURL()); }
    // Log texts repeat from one dictation to the next: each wait looks only past a mark.
    static size_t mark() { return log().size(); }
    static bool waitForLog(const std::string& text, int ms, size_t from = 0) {
        return QTest::qWaitFor([&] { return log().find(text, from) != std::string::npos; }, ms);
    }
    void key(unsigned keycode) {
        testing::fakeKey(keys_, keycode, true);
        testing::fakeKey(keys_, keycode, false);
    }
    // Starts a recording with `press`, then speaks the sentence into the microphone.
    void recordSpeech(const std::function<void()>& press, const std::function<void()>& whileRecording = {}) {
        const size_t from = mark();
        press();
        ASSERT_TRUE(waitForLog("recorder started", 10000, from)) << log();
        if (whileRecording) whileRecording();
        const QString wav = QString::fromStdString((home() / "speech.wav").string());
        ASSERT_TRUE(testing::runProcess("paplay", {"--latency-msec=20", "-d", qEnvironmentVariable("QUORVEL_TEST_MIC_SINK"), wav}).succeeded);
        QTest::qWait(500);  // the last words reach the recording
    }
    // Holds the record key over the sentence.
    void holdAndSpeak(const std::function<void()>& whileRecording = {}) {
        recordSpeech([&] { testing::fakeKey(keys_, kSuperR, true); }, whileRecording);
        testing::fakeKey(keys_, kSuperR, false);
    }
    // The dictation stopped after `from` puts the sentence into the field (into `landed_`), and
    // it is the newest of `entries` history entries, in the mode expected.
    void expectLanded(size_t from, const std::string& modeName, size_t entries) {
        const size_t before = typed_.size();
        ASSERT_TRUE(waitForLog("PIPELINE stop→paste: ", 60000, from)) << log();
        ASSERT_TRUE(QTest::qWaitFor([&] { return field_->text().size() > before; }, 5000)) << log();
        QTest::qWait(700);  // keys injected right after the program's own paste chord would count as its own
        typed_ = field_->text();
        landed_ = typed_.substr(before);
        EXPECT_LE(testing::wordError(kSentence, landed_), 0.3) << landed_;
        const auto history = readHistory();
        ASSERT_EQ(history.size(), entries);
        EXPECT_EQ(history[0].text, landed_);
        EXPECT_EQ(history[0].modeName, modeName);
    }
    static std::vector<HistoryEntry> readHistory() {
        return HistoryStore(AppPaths::historyURL(), AppPaths::recordingsDir()).read(20);
    }
    // The speech-to-text worker: the Python child of the program.
    pid_t workerPid() const {
        const QStringList args{"-P", QString::number(first_.processId()), "python"};
        return testing::runProcess("pgrep", args).output.trimmed().toInt();
    }

    _XDisplay* keys_ = nullptr;
    QProcess first_, second_;
    std::unique_ptr<testing::FieldApp> field_;
    std::vector<DictationMode> modes_;
    std::string typed_, landed_;  // the field's text, and what the last dictation added to it
};

TEST_F(TrayProgramDesktopTest, HeldRecordKeyPutsTheSpokenWordsIntoTheFocusedFieldAndKeepsThem) {
    ASSERT_NO_FATAL_FAILURE(startProgramAndField());
    EXPECT_TRUE(QTest::qWaitFor([&] { return testing::windowOfProcessEmbedded(keys_, first_.processId()); }, 10000))
        << "the tray icon is embedded in the desktop's tray";

    const size_t from = mark();
    holdAndSpeak();
    ASSERT_NO_FATAL_FAILURE(expectLanded(from, modes_[0].name, 1));

    const HistoryEntry entry = readHistory()[0];
    ASSERT_TRUE(entry.originalText);
    EXPECT_EQ(entry.text, TextProcessing::capitalizeFirst(*entry.originalText));
    EXPECT_GT(entry.elapsedMs, 0);
    EXPECT_EQ(entry.modelName, ModelCatalog::model("pocketsphinx-en-us")->name);
    EXPECT_EQ(entry.sourceApp, kFieldClass);
    EXPECT_NEAR(entry.createdAt, localtime::nowSeconds(), 120);
    ASSERT_TRUE(entry.audioPath);
    const auto audio = decodeWav(readFile(AppPaths::recordingsDir() / *entry.audioPath));
    ASSERT_TRUE(audio) << *entry.audioPath;
    EXPECT_GT(audio->size(), 16000u * 3) << "the whole sentence is kept";
    ASSERT_TRUE(entry.durationMs);
    // The recording length, before any trimming.
    EXPECT_GT(*entry.durationMs, static_cast<int64_t>(audio->size()) / 16) << "the saved audio is trimmed";

    const StatsStore stats(AppPaths::statsURL());
    EXPECT_EQ(stats.sessionsTotal(), 1);
    EXPECT_EQ(stats.wordsTotal(), unicode::wordCount(landed_));
    EXPECT_EQ(stats.appsUsed(), std::set<std::string>{kFieldClass});

    // A second copy names the first, hands over and leaves; the first keeps running.
    startQuorvel(second_);
    ASSERT_TRUE(second_.waitForFinished(10000));
    EXPECT_EQ(second_.exitCode(), 0);
    EXPECT_NE(log().find("другой экземпляр уже запущен (pid " + std::to_string(first_.processId())), std::string::npos)
        << log();
    EXPECT_EQ(first_.state(), QProcess::Running);
}

// One run through the other ways of ending a dictation; each step starts from what the one
// before left behind, as a user's session does.
TEST_F(TrayProgramDesktopTest, TapEscapeModeKeyAndAKilledWorker) {
    ASSERT_NO_FATAL_FAILURE(startProgramAndField());

    // A tap arms hands-free recording; the next tap stops it.
    size_t from = mark();
    ASSERT_NO_FATAL_FAILURE(recordSpeech([&] { key(kSuperR); }));
    key(kSuperR);
    ASSERT_NO_FATAL_FAILURE(expectLanded(from, modes_[0].name, 1));

    // Esc throws a hands-free recording away: no text, no entry (checked with the next one).
    from = mark();
    ASSERT_NO_FATAL_FAILURE(recordSpeech([&] { key(kSuperR); }));
    key(kEscape);
    ASSERT_TRUE(waitForLog("запись отменена (Esc)", 5000, from)) << log();

    // The second mode's own key selects it and starts recording; the record key stops.
    from = mark();
    ASSERT_NO_FATAL_FAILURE(recordSpeech([&] { key(kF6); }));
    testing::fakeKey(keys_, kSuperR, true);
    QTest::qWait(400);  // a hold, not a tap
    testing::fakeKey(keys_, kSuperR, false);
    ASSERT_NO_FATAL_FAILURE(expectLanded(from, modes_[1].name, 2));  // nothing of the cancelled recording

    // The worker dies with the request in hand: it is stopped while the user speaks, so the
    // request waits unanswered, and killed once it was sent. The audio stays, nothing else.
    const pid_t worker = workerPid();
    ASSERT_NE(worker, 0);
    from = mark();
    holdAndSpeak([&] { ::kill(worker, SIGSTOP); });
    ASSERT_TRUE(waitForLog(" отправлен (", 10000, from)) << log();
    ::kill(worker, SIGKILL);
    ASSERT_TRUE(waitForLog("запись сохранена: ", 15000, from)) << log();
    size_t sentences = 0;  // the two dictations' recordings and the one kept now
    for (const auto& file : fs::directory_iterator(AppPaths::recordingsDir()))
        if (decodeWav(readFile(file.path())).value_or(std::vector<float>{}).size() > 16000u * 3) ++sentences;
    EXPECT_EQ(sentences, 3u);

    // The next dictation starts a new worker and lands; the failed one left no entry.
    from = mark();
    holdAndSpeak();
    ASSERT_NO_FATAL_FAILURE(expectLanded(from, modes_[1].name, 3));
    EXPECT_NE(workerPid(), worker) << "a new worker";
    EXPECT_EQ(field_->text(), typed_) << "nothing came after the last dictation";
    EXPECT_EQ(StatsStore(AppPaths::statsURL()).sessionsTotal(), 3) << "only delivered dictations count";
}

}  // namespace
}  // namespace quorvel
