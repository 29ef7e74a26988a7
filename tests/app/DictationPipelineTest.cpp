// The dictation pipeline with the real stores, pill, paster, worker client and language-model
// client: the worker is the scriptable fake of tests/fixtures, the language model a loopback
// HTTP server, the desktop the recording fake backend; only the microphone's samples are scripted.
#include "core/HistoryStore.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTest>
#include <cmath>
#include <functional>
#include <nlohmann/json.hpp>
#include <numbers>
#include <set>

#include "app/DictationPipeline.h"
#include "app/RecordingFiles.h"
#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/ConfigStore.h"
#include "core/ModelCatalog.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "core/WavDecoder.h"
#include "platform/Paster.h"
#include "platform/SoundPlayer.h"
#include "platform/fake/FakeSystemQueries.h"
#include "platform/fake/FakeTextInjector.h"
#include "services/Log.h"
#include "services/Transcriber.h"
#include "support/LoopbackHttpServer.h"
#include "support/ModelFixtures.h"
#include "support/ScriptedRecorder.h"
#include "support/TempHome.h"
#include "ui/PillPanel.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Sound = SoundPlayer::Kind;
using Samples = std::vector<float>;
namespace fs = std::filesystem;

const fs::path kFakeWorker = fs::path(QUORVEL_SOURCE_DIR) / "tests/fixtures/fake_worker.py";

// A 220 Hz tone (speech as far as the silence trimming can tell) between stretches of silence.
Samples audio(double silenceBefore, double toneSeconds, double silenceAfter = 0) {
    Samples samples(static_cast<size_t>(silenceBefore * 16000), 0.0f);
    for (size_t i = 0; i < static_cast<size_t>(toneSeconds * 16000); ++i)
        samples.push_back(0.3f * static_cast<float>(std::sin(2 * std::numbers::pi * 220 * static_cast<double>(i) / 16000)));
    samples.resize(samples.size() + static_cast<size_t>(silenceAfter * 16000), 0.0f);
    return samples;
}

size_t wavSamples(const std::optional<std::string>& path) {
    const auto bytes = path ? files::readWhole(*path) : std::nullopt;
    const auto samples = bytes ? decodeWav(*bytes) : std::nullopt;
    return samples ? samples->size() : 0;
}

void install(const STTModel& model, const fs::path& dir) {
    for (const auto& file : model.files) {
        fs::create_directories((dir / file).parent_path());
        files::writeAtomically(dir / file, testing::modelFileContent(file));
    }
}

// Everything one run of the pipeline works with, on the stores of the current HOME.
struct Rig {
    explicit Rig(const fs::path& home)
        : transcriber("/usr/bin/python3", [home] { return WorkerPrefs{(home / "system-model").string(), "nemo", ""}; },
                      Transcriber::Options{.startTimeout = 5000ms, .requestTimeout = 5000ms,
                                           .workerURL = kFakeWorker, .tempDir = home / "tmp"}),
          catalog(home / "system-model") {
        queries.frontApplication = "Kate";
        pipeline.onDictationEnded = [this](bool) { ++ended; };
    }

    ConfigStore config{AppPaths::configURL()};
    VocabStore vocab{AppPaths::vocabURL()};
    HistoryStore history{AppPaths::historyURL(), AppPaths::recordingsDir()};
    StatsStore stats{AppPaths::statsURL()};
    PressStateMachine machine{0.3};
    testing::ScriptedRecorder recorder;
    PillPanel pill;
    Transcriber transcriber;
    bool haveTranscriber = true;
    FakeTextInjector injector;
    FakeSystemQueries queries;
    Paster paster{injector, queries, PasterOptions{50ms, 200ms, 1ms, 50ms, 1000ms}};
    ModelCatalog catalog;
    std::vector<bool> trayIcon;
    int quits = 0, ended = 0;
    std::optional<bool> micAnswer;
    DictationPipeline pipeline{
        PipelineParts{config, vocab, [this]() -> HistoryStore& { return history; }, stats, machine, recorder, pill,
                      [this] { return haveTranscriber ? &transcriber : nullptr; }, paster, queries, catalog},
        PipelineHooks{.setTrayIcon = [this](bool on) { trayIcon.push_back(on); },
                      .refreshMenu = {},
                      .applyDockPolicy = {},
                      .requestMicrophoneAccess = [this](auto answer) { if (micAnswer) answer(*micAnswer); },
                      .quit = [this] { ++quits; }},
        PipelineTimings{.punctuation = 2000ms, .translation = 300ms, .quitDelay = 50ms}};
};

class DictationPipelineTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        Log::setFile(home() / "quorvel.log");
        for (const char* name : {"TEXT", "REPLY_DELAY"}) ::unsetenv(("FAKE_WORKER_" + std::string(name)).c_str());
        fakeWorkerSays("привет мир");
        install(*ModelCatalog::model("pocketsphinx-en-us"), home() / "system-model");
        SoundPlayer::setOutput([this](const SoundPlayer::Cue& cue) { sounds_.push_back(cue.kind); });
        fresh();
    }

    void TearDown() override {
        rig_.reset();
        SoundPlayer::setOutput({});
        QCoreApplication::sendPostedEvents();
        TempHome::TearDown();
    }

    // A new rig on empty stores, with the default configuration of these tests.
    Rig& fresh() {
        rig_.reset();
        QCoreApplication::sendPostedEvents();
        std::error_code ec;
        fs::remove_all(AppPaths::supportDir(), ec);
        sounds_.clear();
        QGuiApplication::clipboard()->clear();
        rig_ = std::make_unique<Rig>(home());
        rig_->config.update([&](AppConfig& c) {
            c.modes.front().sttModelID = "pocketsphinx-en-us";
            c.activeModeID = c.modes.front().id;
            c.ollamaURL = server_.url("/api/generate");
            c.punctRestore = false;
            c.soundPaste = true;
        });
        return *rig_;
    }
    Rig& rig() { return *rig_; }

    static void fakeWorkerSays(const std::string& text) { ::setenv("FAKE_WORKER_TEXT", text.c_str(), 1); }

    void setMode(const std::function<void(AppConfig&, DictationMode&)>& change) {
        rig().config.update([&](AppConfig& c) { change(c, c.modes.front()); });
    }

    // Holds the record key over a recording of `samples` and waits until the dictation ended.
    void dictate(Samples samples) {
        const int before = rig().ended;
        rig().recorder.next = std::move(samples);
        rig().pipeline.pressDown();
        rig().pipeline.pressUp(1.0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return rig().ended > before; }, 8000)) << "the dictation did not end";
    }

    std::string log() const {
        Log::flush();
        return readFile(home() / "quorvel.log");
    }
    std::vector<HistoryEntry> history() { return rig().history.read(100); }
    static size_t recordingsIn(const fs::path& folder) {
        std::error_code ec;
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder, ec), fs::directory_iterator()));
    }
    size_t recordings() { return recordingsIn(rig().history.recordingsDir()); }

    testing::LoopbackHttpServer server_;
    std::unique_ptr<Rig> rig_;
    std::vector<Sound> sounds_;
};

// One dictation through the chain, by configuration: what lands where, what is sent and heard.
TEST_F(DictationPipelineTest, ChainOutcomes) {
    struct Row {
        const char* name;
        std::function<void(AppConfig&, DictationMode&)> setup;
        Samples samples;
        std::optional<testing::HttpResponse> llm;  // the language model's answer
        std::optional<std::string> text;           // the history entry's text; none: no entry
        std::optional<std::string> translatedTo;
        std::vector<std::string> keys;             // what the paster posted
        std::optional<std::string> clipboardOnly;  // the text left on the clipboard without a paste
        size_t llmRequests;
        std::pair<size_t, size_t> audio;  // sample count of the processed audio, from..to
        int64_t durationMs;
        bool shift = false;
    };
    const auto none = [](AppConfig&, DictationMode&) {};
    const auto answer = [](const std::string& text) {
        testing::HttpResponse response;
        response.body = nlohmann::json{{"response", text}}.dump();
        return response;
    };
    testing::HttpResponse hang;
    hang.hang = true;
    // clang-format off
    const std::vector<Row> rows{
        {"0.15 s is too short", none, audio(0, 0.15), {}, {}, {}, {}, {}, 0, {2400, 2400}, 150},
        {"speech trimmed below 0.2 s: sent untrimmed", none, audio(0, 0.03, 0.97), {}, "Привет мир", {}, {"paste"}, {},
         0, {16000, 16000}, 1000},
        {"trimming shortens the audio, not durationMs", none, audio(0.5, 0.5, 0.5), {}, "Привет мир", {}, {"paste"},
         {}, 0, {12000, 14000}, 1500},
        {"translation answers", [](AppConfig&, DictationMode& m) { m.translateTo = "en"; }, audio(0, 1),
         answer("Hello world"), "Hello world", "en", {"paste"}, {}, 1, {16000, 16000}, 1000},
        {"translation times out: untranslated", [](AppConfig&, DictationMode& m) { m.translateTo = "en"; },
         audio(0, 1), hang, "Привет мир", {}, {"paste"}, {}, 1, {16000, 16000}, 1000},
        {"whisper punctuates itself",
         [](AppConfig& c, DictationMode& m) { c.punctRestore = true, m.sttModelID = "whisper-small-multi"; },
         audio(0, 1), answer("Привет, мир."), "Привет мир", {}, {"paste"}, {}, 0, {16000, 16000}, 1000},
        {"unlisted model counts as nemo: punctuated",
         [](AppConfig& c, DictationMode& m) { c.punctRestore = true, m.sttModelID = "no-such-model"; }, audio(0, 1),
         answer("Привет, мир."), "Привет, мир.", {}, {"paste"}, {}, 1, {16000, 16000}, 1000},
        {"autoPaste off: clipboard only", [](AppConfig&, DictationMode& m) { m.autoPaste = "off"; }, audio(0, 1), {},
         "Привет мир", {}, {}, "Привет мир", 0, {16000, 16000}, 1000},
        {"autoPaste default follows pasteResultText off", [](AppConfig& c, DictationMode&) { c.pasteResultText = false; },
         audio(0, 1), {}, "Привет мир", {}, {}, "Привет мир", 0, {16000, 16000}, 1000},
        {"Shift held with holdShiftToSend: Return follows", [](AppConfig& c, DictationMode&) { c.holdShiftToSend = true; },
         audio(0, 1), {}, "Привет мир", {}, {"paste", "return"}, {}, 0, {16000, 16000}, 1000, true},
    };
    // clang-format on
    install(*ModelCatalog::model("whisper-small-multi"), AppPaths::modelsDir() / "sherpa-onnx-whisper-small");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig& r = fresh();
        setMode(row.setup);
        if (row.llm) server_.serve("/api/generate", *row.llm);
        r.queries.shift = row.shift;
        const size_t requestsBefore = server_.requests().size();
        dictate(row.samples);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !r.paster.busy(); }, 3000));
        QCoreApplication::processEvents();  // sounds are decided on the next turn of the loop

        const auto entries = history();
        ASSERT_EQ(entries.size(), row.text ? 1u : 0u) << log();
        EXPECT_EQ(r.stats.sessionsTotal(), row.text ? 1 : 0);
        EXPECT_EQ(recordings(), row.text ? 1u : 0u);
        if (row.text) {
            const HistoryEntry& e = entries.front();
            EXPECT_EQ(e.text, *row.text);
            EXPECT_EQ(e.originalText, "привет мир");
            EXPECT_EQ(e.translatedTo, row.translatedTo);
            EXPECT_EQ(e.durationMs, row.durationMs);
            EXPECT_EQ(e.sourceApp, "Kate");
            EXPECT_EQ(e.modeName, r.config.config().modes.front().name);
            EXPECT_EQ(wavSamples(e.audioPath), r.pipeline.lastAudio().size());
        }
        EXPECT_EQ(r.injector.events, row.keys);
        if (row.clipboardOnly) {
            EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), *row.clipboardOnly);
        }
        EXPECT_EQ(server_.requests().size() - requestsBefore, row.llmRequests);
        EXPECT_GE(r.pipeline.lastAudio().size(), row.audio.first);
        EXPECT_LE(r.pipeline.lastAudio().size(), row.audio.second);
        EXPECT_EQ(r.pipeline.lastDurationMs(), row.durationMs);
        const std::vector<Sound> heard = row.text ? std::vector<Sound>{Sound::recordStart, Sound::recordStop, Sound::paste}
                                                  : std::vector<Sound>{Sound::recordStart};
        EXPECT_EQ(sounds_, heard);
        EXPECT_TRUE(r.machine.state().isIdle());
        EXPECT_EQ(r.pill.state(), PillState::collapsed);
        EXPECT_EQ(r.trayIcon, (std::vector<bool>{true, false}));
    }
}

// What refuses or ends a recording early, and that the press machine is idle again afterwards,
// so the next press starts a fresh recording.
TEST_F(DictationPipelineTest, RefusalsResetThePressMachine) {
    struct Row {
        const char* name;
        std::function<void(Rig&)> setup;
        std::string notice;
        int recorderStarts;
    };
    const auto mode = [](const std::function<void(DictationMode&)>& change) {
        return [change](Rig& r) { r.config.update([&](AppConfig& c) { change(c.modes.front()); }); };
    };
    const std::vector<Row> rows{
        {"mode limited to other applications", mode([](DictationMode& m) { m.activateApps = {"firefox"}; }),
         "не активен в этом приложении", 0},
        {"model not installed", mode([](DictationMode& m) { m.sttModelID = "gigaam-v2-ru"; }),
         "⚠️ Модель «GigaAM v2 Russian» не установлена — Настройки → Модели", 0},
        {"microphone denied", [](Rig& r) { r.queries.microphone = MicrophoneAuthorization::denied; },
         "⚠️ Нет доступа к микрофону", 0},
        {"microphone not determined, then refused",
         [](Rig& r) { r.queries.microphone = MicrophoneAuthorization::notDetermined, r.micAnswer = false; },
         "⚠️ Нет доступа к микрофону", 0},
        {"microphone not determined, then granted",
         [](Rig& r) { r.queries.microphone = MicrophoneAuthorization::notDetermined, r.micAnswer = true; },
         "✓ Микрофон разрешён", 0},
        {"recorder does not start", [](Rig& r) { r.recorder.startWorks = false; }, "⚠️ Микрофон недоступен", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig& r = fresh();
        row.setup(r);
        r.pipeline.pressDown();
        QCoreApplication::processEvents();
        EXPECT_TRUE(r.machine.state().isIdle());
        EXPECT_FALSE(r.pipeline.isRecording());
        EXPECT_EQ(r.recorder.starts, row.recorderStarts);
        EXPECT_TRUE(r.pill.text().contains(QString::fromStdString(row.notice))) << r.pill.text().toStdString();
        EXPECT_TRUE(sounds_.empty());
        EXPECT_TRUE(r.trayIcon.empty());
    }

    // Without a speech-to-text client the recording ends with the error, not left running.
    Rig& r = fresh();
    r.haveTranscriber = false;
    dictate(audio(0, 1));
    EXPECT_TRUE(r.machine.state().isIdle());
    EXPECT_FALSE(r.pipeline.isRecording());
    EXPECT_EQ(r.trayIcon, (std::vector<bool>{true, false}));
    EXPECT_TRUE(r.pill.text().contains("⚠️ Ошибка: STT не инициализирован"));
}

// A newer recording starts while the older dictation is still being recognised: each keeps its
// own audio and application, and the older one's end leaves the running recording's pill alone.
TEST_F(DictationPipelineTest, OverlappingDictationsKeepTheirOwnAudioAndApplication) {
    ::setenv("FAKE_WORKER_REPLY_DELAY", "0.3", 1);
    Rig& r = rig();
    r.recorder.next = audio(0, 1);
    r.pipeline.pressDown();
    r.pipeline.pressUp(1.0);
    r.queries.frontApplication = "Firefox";
    r.pipeline.pressDown();
    ASSERT_TRUE(r.pipeline.isRecording());
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.ended == 1; }, 8000));
    EXPECT_EQ(r.pill.state(), PillState::recording);
    r.recorder.next = audio(0, 2);
    r.pipeline.pressUp(1.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.ended == 2; }, 8000));
    EXPECT_EQ(r.pill.state(), PillState::collapsed);

    const auto entries = history();  // newest first
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].sourceApp, "Firefox");
    EXPECT_EQ(entries[0].durationMs, 2000);
    EXPECT_EQ(wavSamples(entries[0].audioPath), 32000u);
    EXPECT_EQ(entries[1].sourceApp, "Kate");
    EXPECT_EQ(entries[1].durationMs, 1000);
    EXPECT_EQ(wavSamples(entries[1].audioPath), 16000u);
    EXPECT_EQ(r.stats.appsUsed(), (std::set<std::string>{"Firefox", "Kate"}));
}

// Failed dictations keep the program running and keep the audio of a failed recognition; the
// first successful one ends the program when closeAfterTranscription asks for it.
TEST_F(DictationPipelineTest, FailedRecognitionKeepsTheAudioAndOnlyASuccessQuits) {
    fakeWorkerSays("");
    Rig& r = rig();
    r.config.update([](AppConfig& c) { c.closeAfterTranscription = true; });
    dictate(audio(0, 1));
    EXPECT_TRUE(history().empty());
    EXPECT_EQ(r.stats.sessionsTotal(), 0);
    ASSERT_EQ(recordings(), 1u);
    const fs::path kept = fs::directory_iterator(r.history.recordingsDir())->path();
    EXPECT_EQ(wavSamples(kept.string()), 16000u);
    EXPECT_TRUE(r.pill.text().contains("⚠️ Не распознано — подробности в логе — запись сохранена"));
    dictate(audio(0, 0.1));
    QTest::qWait(150);  // three times the quit delay
    EXPECT_EQ(r.quits, 0);

    // The maximum-length timer ends a recording the user still holds; the late release does nothing.
    writeFile(home() / "tmp/req_2.txt", "ещё раз");  // the fake worker's answer to the next request
    r.config.update([](AppConfig& c) { c.maxRecordSeconds = 0.2; });
    r.recorder.next = audio(0, 1);
    r.pipeline.pressDown();
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.ended == 3; }, 8000));
    r.pipeline.pressUp(5.0);
    EXPECT_EQ(history().size(), 1u);
    EXPECT_EQ(r.recorder.starts, 3);
    EXPECT_TRUE(r.machine.state().isIdle());
    EXPECT_TRUE(QTest::qWaitFor([&] { return r.quits == 1; }, 3000));

    // The program ends under a running recording (a logout, a signal): the speech stays.
    const fs::path folder = r.history.recordingsDir();
    r.recorder.next = audio(0, 1.5);
    r.pipeline.pressDown();
    ASSERT_TRUE(r.pipeline.isRecording());
    rig_.reset();
    EXPECT_EQ(recordingsIn(folder), 3u);

    // ... and so does the speech of a stopped dictation still waiting for its text.
    ::setenv("FAKE_WORKER_REPLY_DELAY", "5", 1);
    Rig& slow = fresh();
    slow.recorder.next = audio(0, 1);
    slow.pipeline.pressDown();
    slow.pipeline.pressUp(1.0);
    ASSERT_EQ(slow.pipeline.dictationsUnderWay(), 1);
    rig_.reset();
    ASSERT_EQ(recordingsIn(folder), 1u);
    EXPECT_EQ(wavSamples(fs::directory_iterator(folder)->path().string()), 16000u);
}

using RecordingFilesTest = testing::TempHome;

TEST_F(RecordingFilesTest, TwoRecordingsInOneSecondBothSurvive) {
    const fs::path dir = home() / "Recordings";
    const auto first = RecordingFiles::save(audio(0, 0.1), dir, 1700000000);
    const auto second = RecordingFiles::save(audio(0, 0.2), dir, 1700000000);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(*first, dir / "rec-1700000000.wav");
    EXPECT_EQ(*second, dir / "rec-1700000000-2.wav");
    EXPECT_EQ(wavSamples(first->string()), 1600u);
    EXPECT_EQ(wavSamples(second->string()), 3200u);
    EXPECT_FALSE(RecordingFiles::save({}, dir, 1700000000)) << "no samples, no file";

    // A folder the audio cannot go to loses it: the log says where and why.
    Log::setFile(home() / "quorvel.log");
    const fs::path notAFolder = writeFile(home() / "a-file", "x");
    EXPECT_FALSE(RecordingFiles::save(audio(0, 0.1), notAFolder, 1700000000));
    Log::flush();
    EXPECT_NE(readFile(home() / "quorvel.log").find("ERROR: запись не сохранена: " + (notAFolder / "rec-1700000000.wav").string() + ": "),
              std::string::npos) << readFile(home() / "quorvel.log");
}

}  // namespace
}  // namespace quorvel
