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

// A 220 Hz tone (speech as far as the silence trimming can tell) between stretches of silence.
Samples audio(double silenceBefore, double toneSeconds, double silenceAfter = 0) {
    Samples samples(static_cast<size_t>(silenceBefore * 16000), 0.0f);
    for (size_t i = 0; i < static_cast<size_t>(toneSeconds * 16000); ++i)
        samples.push_back(0.3f * static_cast<float>(std::sin(2 * std::numbers::pi * 220 * static_cast<double>(i) / 16000)));
    samples.resize(samples.size() + static_cast<size_t>(silenceAfter * 16000), 0.0f);
    return samples;
}

// The sample counts of the recordings kept in `folder` (0 for a file that is no WAV).
std::multiset<size_t> kept(const fs::path& folder) {
    std::multiset<size_t> sizes;
    std::error_code ec;
    for (const auto& file : fs::directory_iterator(folder, ec))
        sizes.insert(decodeWav(files::readWhole(file.path()).value_or("")).value_or(Samples{}).size());
    return sizes;
}

// Everything one run of the pipeline works with, on the stores of the current HOME.
struct Rig {
    explicit Rig(const fs::path& home)
        : transcriber("/usr/bin/python3", [home] { return WorkerPrefs{(home / "system-model").string(), "nemo", ""}; },
                      Transcriber::Options{.startTimeout = 5000ms, .requestTimeout = 5000ms,
                                           .workerURL = fs::path(QUORVEL_SOURCE_DIR) / "tests/fixtures/fake_worker.py",
                                           .tempDir = home / "tmp"}),
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
        ::unsetenv("FAKE_WORKER_REPLY_DELAY");
        ::setenv("FAKE_WORKER_TEXT", "привет мир", 1);
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

    void install(const STTModel& model, const fs::path& dir) const {
        for (const auto& file : model.files) writeFile(dir / file, testing::modelFileContent(file));
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
            c.ollamaURL = server_.url("/api/generate");
            c.punctRestore = false;
            c.soundPaste = true;
        });
        return *rig_;
    }

    // Holds the record key over a recording of `samples` and waits until the dictation ended.
    void dictate(Samples samples) {
        const int before = rig_->ended;
        rig_->recorder.next = std::move(samples);
        rig_->pipeline.pressDown();
        rig_->pipeline.pressUp(1.0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return rig_->ended > before; }, 8000)) << "the dictation did not end";
    }

    testing::LoopbackHttpServer server_;
    std::unique_ptr<Rig> rig_;
    std::vector<Sound> sounds_;
};

// One dictation through the chain, by configuration: what lands where, what is sent and heard.
TEST_F(DictationPipelineTest, ChainOutcomes) {
    struct Row {
        const char* name;
        std::function<void(AppConfig&, DictationMode&)> setup;  // on top of the tests' configuration
        Samples samples;
        std::optional<testing::HttpResponse> llm;  // the language model's answer
        std::optional<std::string> text;           // the history entry's text; none: no entry
        std::optional<std::string> translatedTo;
        std::vector<std::string> keys;  // what the paster posted; none: the text is left on the clipboard
        size_t llmRequests;
        size_t trimmedTo = 0;  // about the processed audio's sample count; 0: the whole recording
        bool shift = false;
    };
    const auto answer = [](const std::string& text) {
        testing::HttpResponse response;
        response.body = nlohmann::json{{"response", text}}.dump();
        return response;
    };
    testing::HttpResponse hang;
    hang.hang = true;
    // clang-format off
    const std::vector<Row> rows{
        {"0.15 s is too short", {}, audio(0, 0.15), {}, {}, {}, {}, 0},
        {"speech trimmed below 0.2 s: sent untrimmed", {}, audio(0, 0.03, 0.97), {}, "Привет мир", {}, {"paste"}, 0},
        {"trimming shortens the audio, not durationMs", {}, audio(0.5, 0.5, 0.5), {}, "Привет мир", {}, {"paste"}, 0,
         13000},
        {"translation answers", [](AppConfig&, DictationMode& m) { m.translateTo = "en"; }, audio(0, 1),
         answer("Hello world"), "Hello world", "en", {"paste"}, 1},
        {"translation times out: untranslated", [](AppConfig&, DictationMode& m) { m.translateTo = "en"; },
         audio(0, 1), hang, "Привет мир", {}, {"paste"}, 1},
        {"whisper punctuates itself",
         [](AppConfig& c, DictationMode& m) { c.punctRestore = true, m.sttModelID = "whisper-small-multi"; },
         audio(0, 1), answer("Привет, мир."), "Привет мир", {}, {"paste"}, 0},
        {"unlisted model counts as nemo: punctuated",
         [](AppConfig& c, DictationMode& m) { c.punctRestore = true, m.sttModelID = "no-such-model"; }, audio(0, 1),
         answer("Привет, мир."), "Привет, мир.", {}, {"paste"}, 1},
        {"autoPaste default follows pasteResultText off", [](AppConfig& c, DictationMode&) { c.pasteResultText = false; },
         audio(0, 1), {}, "Привет мир", {}, {}, 0},
        {"autoPaste off in the mode: clipboard only", [](AppConfig&, DictationMode& m) { m.autoPaste = "off"; },
         audio(0, 1), {}, "Привет мир", {}, {}, 0},
        {"Shift held with holdShiftToSend: Return follows", [](AppConfig& c, DictationMode&) { c.holdShiftToSend = true; },
         audio(0, 1), {}, "Привет мир", {}, {"paste", "return"}, 0, 0, true},
    };
    // clang-format on
    install(*ModelCatalog::model("whisper-small-multi"), AppPaths::modelsDir() / "sherpa-onnx-whisper-small");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig& r = fresh();
        if (row.setup) r.config.update([&](AppConfig& c) { row.setup(c, c.modes.front()); });
        if (row.llm) server_.serve("/api/generate", *row.llm);
        r.queries.shift = row.shift;
        const size_t requestsBefore = server_.requests().size();
        dictate(row.samples);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !r.paster.busy(); }, 3000));
        QCoreApplication::processEvents();  // sounds are decided on the next turn of the loop

        const auto entries = r.history.read(100);
        ASSERT_EQ(entries.size(), row.text ? 1u : 0u);
        const size_t processed = r.pipeline.lastAudio().size();
        EXPECT_EQ(kept(r.history.recordingsDir()),
                  row.text ? std::multiset<size_t>{processed} : std::multiset<size_t>{});
        if (row.text) {
            const HistoryEntry& e = entries.front();
            EXPECT_EQ(e.text, *row.text);
            EXPECT_EQ(e.originalText, "привет мир");
            EXPECT_EQ(e.translatedTo, row.translatedTo);
            EXPECT_EQ(e.durationMs, static_cast<int64_t>(row.samples.size()) / 16);
            if (row.keys.empty()) {
                EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), *row.text);
            }
        }
        EXPECT_EQ(r.injector.events, row.keys);
        EXPECT_EQ(server_.requests().size() - requestsBefore, row.llmRequests);
        EXPECT_NEAR(processed, row.trimmedTo ? row.trimmedTo : row.samples.size(), 1000);
        EXPECT_EQ(sounds_, (row.text ? std::vector<Sound>{Sound::recordStart, Sound::recordStop, Sound::paste}
                                     : std::vector<Sound>{Sound::recordStart}));
        EXPECT_EQ(r.pill.state(), PillState::collapsed);
        EXPECT_EQ(r.trayIcon, (std::vector<bool>{true, false}));
    }
}

// One session through what refuses, fails, overlaps or cuts short a dictation. The press machine is
// idle after each; speech is never lost; only a successful dictation ends the program when
// closeAfterTranscription asks for it.
TEST_F(DictationPipelineTest, RefusalsFailuresOverlapsAndQuittingKeepEverySpeech) {
    ::setenv("FAKE_WORKER_REPLY_DELAY", "0.3", 1);
    ::setenv("FAKE_WORKER_TEXT", "", 1);  // requests without an answer file of their own fail
    Rig& r = fresh();
    const fs::path folder = r.history.recordingsDir();
    // A refused press records nothing and shows why; the next press starts afresh.
    const auto refused = [&](const char* notice, int recorderStarts) {
        r.pipeline.pressDown();
        QCoreApplication::processEvents();
        EXPECT_TRUE(r.machine.state().isIdle()) << notice;
        EXPECT_FALSE(r.pipeline.isRecording()) << notice;
        EXPECT_EQ(r.recorder.starts, recorderStarts) << notice;
        EXPECT_TRUE(r.pill.text().contains(QString::fromUtf8(notice))) << r.pill.text().toStdString();
    };
    r.config.update([](AppConfig& c) { c.modes.front().activateApps = {"firefox"}; });
    refused("не активен в этом приложении", 0);
    r.config.update([](AppConfig& c) { c.modes.front().activateApps.clear(); });
    r.config.update([](AppConfig& c) { c.modes.front().sttModelID = "gigaam-v2-ru"; });
    refused("⚠️ Модель «GigaAM v2 Russian» не установлена — Настройки → Модели", 0);
    r.config.update([](AppConfig& c) { c.modes.front().sttModelID = "pocketsphinx-en-us"; });
    r.queries.microphone = MicrophoneAuthorization::notDetermined;
    r.micAnswer = false;
    refused("⚠️ Нет доступа к микрофону", 0);
    r.micAnswer = true;
    refused("✓ Микрофон разрешён", 0);
    r.queries.microphone = MicrophoneAuthorization::authorized;
    r.recorder.startWorks = false;
    refused("⚠️ Микрофон недоступен", 1);
    r.recorder.startWorks = true;
    EXPECT_TRUE(sounds_.empty());
    EXPECT_TRUE(r.trayIcon.empty());

    // Without a speech-to-text client the recording ends with the error, not left running.
    r.config.update([](AppConfig& c) { c.closeAfterTranscription = true; });
    r.haveTranscriber = false;
    dictate(audio(0, 1));
    EXPECT_TRUE(r.machine.state().isIdle());
    EXPECT_FALSE(r.pipeline.isRecording());
    EXPECT_EQ(r.trayIcon, (std::vector<bool>{true, false}));
    r.haveTranscriber = true;

    // A failed recognition keeps its audio; neither it nor a too short recording quits.
    dictate(audio(0, 1));
    EXPECT_TRUE(r.history.read(100).empty());
    EXPECT_TRUE(r.pill.text().contains("⚠️ Не распознано")) << r.pill.text().toStdString();
    EXPECT_EQ(r.stats.sessionsTotal(), 0);
    EXPECT_EQ(kept(folder), (std::multiset<size_t>{16000}));
    dictate(audio(0, 0.1));
    QTest::qWait(150);  // three times the quit delay
    EXPECT_EQ(r.quits, 0);

    // A newer recording starts while the older dictation is still being recognised: each keeps its
    // own audio and application, and the older one's end leaves the running recording's pill alone.
    for (const char* request : {"tmp/req_2.txt", "tmp/req_3.txt", "tmp/req_4.txt"})
        writeFile(home() / request, "привет мир");  // the fake worker's answers
    r.recorder.next = audio(0, 1);
    r.pipeline.pressDown();
    r.pipeline.pressUp(1.0);
    r.queries.frontApplication = "Firefox";
    r.pipeline.pressDown();
    ASSERT_TRUE(r.pipeline.isRecording());
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.ended == 4; }, 8000));
    EXPECT_EQ(r.pill.state(), PillState::recording);
    r.recorder.next = audio(0, 2);
    r.pipeline.pressUp(1.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.ended == 5; }, 8000));
    EXPECT_EQ(r.pill.state(), PillState::collapsed);
    std::vector<std::pair<std::optional<std::string>, std::optional<int64_t>>> entries;  // newest first
    for (const HistoryEntry& e : r.history.read(100)) entries.emplace_back(e.sourceApp, e.durationMs);
    EXPECT_EQ(entries, (decltype(entries){{"Firefox", 2000}, {"Kate", 1000}}));
    EXPECT_EQ(kept(folder), (std::multiset<size_t>{16000, 16000, 32000}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return r.quits == 1; }, 3000));

    // The maximum-length timer ends a recording the user still holds; the late release does nothing.
    r.config.update([](AppConfig& c) { c.maxRecordSeconds = 0.2; });
    r.recorder.next = audio(0, 1);
    r.pipeline.pressDown();
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.ended == 6; }, 8000));
    r.pipeline.pressUp(5.0);
    EXPECT_EQ(r.history.read(100).size(), 3u);
    EXPECT_EQ(r.recorder.starts, 7);
    EXPECT_TRUE(r.machine.state().isIdle());

    // The program ends (a logout, a signal) while a dictation waits for its text and a newer
    // recording runs: the speech of both stays, though both are saved in the same second.
    r.recorder.next = audio(0, 1.25);
    r.pipeline.pressDown();
    r.pipeline.pressUp(1.0);
    r.recorder.next = audio(0, 1.5);
    r.pipeline.pressDown();
    ASSERT_EQ(r.pipeline.dictationsUnderWay(), 1);
    ASSERT_TRUE(r.pipeline.isRecording());
    rig_.reset();
    EXPECT_EQ(kept(folder), (std::multiset<size_t>{16000, 16000, 16000, 20000, 24000, 32000}));
}

// A recording without samples makes no file; a folder the audio cannot go to loses it, and the
// log says where and why.
TEST_F(DictationPipelineTest, RecordingFilesLogWhatCannotBeSaved) {
    const fs::path notAFolder = writeFile(home() / "a-file", "x");
    EXPECT_FALSE(RecordingFiles::save({}, home(), 1700000000));
    EXPECT_FALSE(RecordingFiles::save(audio(0, 0.1), notAFolder, 1700000000));
    Log::flush();
    const std::string log = readFile(home() / "quorvel.log");
    EXPECT_NE(log.find("ERROR: запись не сохранена: " + (notAFolder / "rec-1700000000.wav").string() + ": "),
              std::string::npos) << log;
}

}  // namespace
}  // namespace quorvel
