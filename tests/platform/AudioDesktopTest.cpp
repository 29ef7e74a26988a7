// The microphone and the sound cues against a real PulseAudio server (tests/desktop/with-desktop):
// synthesised speech goes into the virtual microphone, the recorder captures it and the embedded
// recogniser must find the words; cues are recorded from the speakers' monitor and their level
// must follow the volume and the profile. The last suite kills the server under a recording.
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/WavDecoder.h"
#include "platform/AudioRecorder.h"
#include "platform/SoundPlayer.h"
#include "services/Log.h"
#include "services/Transcriber.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

bool haveSoundServer() { return std::getenv("QUORVEL_TEST_MIC_SINK") && std::getenv("QUORVEL_TEST_SPEAKERS"); }

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::string word;
    for (const char c : text + " ") {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '\'') {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (!word.empty()) {
            out.push_back(word);
            word.clear();
        }
    }
    return out;
}

// Word error rate: word-level edit distance over the reference's length.
double wordError(const std::string& reference, const std::string& hypothesis) {
    const auto ref = words(reference), hyp = words(hypothesis);
    std::vector<size_t> row(hyp.size() + 1);
    for (size_t j = 0; j <= hyp.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= ref.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= hyp.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (ref[i - 1] == hyp[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return static_cast<double>(row[hyp.size()]) / static_cast<double>(std::max<size_t>(ref.size(), 1));
}

class AudioDesktopTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        if (!haveSoundServer()) GTEST_SKIP() << "no PulseAudio: run under tests/desktop/with-desktop";
        Log::setFile(home() / "quorvel.log");
    }
    void TearDown() override {
        SoundPlayer::setConfigProvider(nullptr);
        SoundPlayer::setOutput(nullptr);
        TempHome::TearDown();
    }

    std::string log() {
        Log::flush();
        return readFile(home() / "quorvel.log");
    }

    static bool run(const QString& program, const QStringList& args, int ms = 30000) {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(ms)) return false;
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    std::filesystem::path speak(const std::string& text) {
        const auto wav = home() / "speech.wav";
        EXPECT_TRUE(run("flite", {"-voice", "kal16", "-t", QString::fromStdString(text), "-o",
                                  QString::fromStdString(wav.string())}));
        return wav;
    }

    // Plays `wav` into the virtual microphone and waits until it has been played.
    static bool feedMicrophone(const std::filesystem::path& wav) {
        QProcess paplay;
        paplay.start("paplay", {"--latency-msec=20", "-d", qEnvironmentVariable("QUORVEL_TEST_MIC_SINK"),
                                QString::fromStdString(wav.string())});
        const bool done = QTest::qWaitFor([&] { return paplay.state() == QProcess::NotRunning; }, 30000);
        return done && paplay.exitCode() == 0;
    }

    static bool waitForSamples(const AudioRecorder& recorder, int64_t count, int ms = 5000) {
        return QTest::qWaitFor([&] { return recorder.ring().sampleCount() >= count; }, ms);
    }
};

TEST_F(AudioDesktopTest, RecordsSpeechFromTheMicrophoneThatTheRecogniserUnderstands) {
    const std::string sentence = "the weather is nice today so we will walk to the park after lunch";
    const auto wav = speak(sentence);
    const auto spoken = decodeWav(readFile(wav));
    ASSERT_TRUE(spoken && !spoken->empty());

    AudioRecorder recorder;
    std::vector<float> levels;
    size_t tailSamples = 0;
    bool offMainThread = false;
    recorder.onLevel = [&](float level) {
        offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        levels.push_back(level);
    };
    recorder.onSamples = [&](const std::vector<float>& samples) { tailSamples += samples.size(); };

    ASSERT_TRUE(recorder.start());
    EXPECT_TRUE(recorder.start()) << "already recording";
    ASSERT_TRUE(waitForSamples(recorder, 1));
    ASSERT_TRUE(feedMicrophone(wav));
    // Let the last fragment of speech reach the ring before stopping.
    ASSERT_TRUE(waitForSamples(recorder, recorder.ring().sampleCount() + 8000));
    const auto samples = recorder.stop();
    EXPECT_FALSE(recorder.isRunning());
    EXPECT_TRUE(recorder.stop().empty()) << "second stop";

    // All the speech is there (the recording began before it and ended after it).
    EXPECT_GE(samples.size(), spoken->size());
    EXPECT_LT(samples.size(), spoken->size() + 16000 * 5);
    EXPECT_FALSE(offMainThread);
    ASSERT_FALSE(levels.empty());
    EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 0.02f) << "speech must show in the level";
    EXPECT_GT(tailSamples, 0u);
    const double seconds = static_cast<double>(samples.size()) / 16000.0;
    EXPECT_LE(static_cast<double>(levels.size()), seconds / 0.033 + 2) << "level reports are throttled";

    const std::string text = log();
    EXPECT_NE(text.find("INFO: recorder started: hw "), std::string::npos) << text;
    EXPECT_NE(text.find("ch → tap (hw) → ресемплер (linear) → 16 кГц mono"), std::string::npos) << text;
    char stopped[96];
    std::snprintf(stopped, sizeof stopped, "INFO: recorder stopped: %zu samples (%.1fs)", samples.size(), seconds);
    EXPECT_NE(text.find(stopped), std::string::npos) << text;

    Transcriber::Options options;
    options.workerURL = std::filesystem::path(QUORVEL_SOURCE_DIR "/worker/stt_worker.py");
    options.tempDir = home() / "tmp";
    Transcriber transcriber(
        "/usr/bin/python3", [] { return WorkerPrefs{"/usr/share/pocketsphinx/model/en-us", "pocketsphinx", "en"}; },
        options);
    std::optional<std::string> heard;
    bool done = false;
    transcriber.transcribe(samples, [&](std::optional<std::string> result) {
        heard = std::move(result);
        done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 60000));
    ASSERT_TRUE(heard);
    EXPECT_LE(wordError(sentence, *heard), 0.30) << "heard: " << *heard;
}

TEST_F(AudioDesktopTest, EveryRecordingStartsEmptyAndTheRecorderIsReusable) {
    AudioRecorder recorder;
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(waitForSamples(recorder, 16000));
    const auto first = recorder.stop();
    ASSERT_GE(first.size(), 16000u);

    ASSERT_TRUE(recorder.start());
    EXPECT_LT(recorder.ring().sampleCount(), static_cast<int64_t>(first.size())) << "start empties the ring";
    ASSERT_TRUE(waitForSamples(recorder, 3200));
    const auto second = recorder.stop();
    EXPECT_GE(second.size(), 3200u);
    EXPECT_LT(second.size(), first.size());
}

// --- sound cues -----------------------------------------------------------------------------

// Records the speakers' monitor around one cue and returns the loudest 20 ms RMS heard.
class CueMeter {
public:
    double loudestAround(SoundPlayer::Kind kind) {
        QProcess parec;
        parec.start("parec", {"--raw", "--format=s16le", "--rate=16000", "--channels=1", "--latency-msec=20", "-d",
                              qEnvironmentVariable("QUORVEL_TEST_SPEAKERS") + ".monitor"});
        QByteArray audio;
        auto collect = [&] { audio += parec.readAllStandardOutput(); };
        // The stream is live once data flows; only then is the cue played.
        if (!QTest::qWaitFor([&] { collect(); return audio.size() >= 3200; }, 5000)) return -1.0;
        audio.clear();
        SoundPlayer::play(kind);
        const bool heard = QTest::qWaitFor([&] { collect(); return audio.size() >= 16000 * 2 * 6 / 5; }, 10000);  // 1.2 s
        parec.terminate();
        parec.waitForFinished(3000);
        if (!heard) return -1.0;
        return loudestWindow(audio);
    }

private:
    static double loudestWindow(const QByteArray& audio) {
        std::vector<int16_t> samples(static_cast<size_t>(audio.size()) / 2);
        const size_t count = samples.size();
        std::copy_n(audio.constData(), count * 2, reinterpret_cast<char*>(samples.data()));
        constexpr size_t kWindow = 320;
        double loudest = 0.0;
        for (size_t start = 0; start + kWindow <= count; start += kWindow) {
            double sum = 0.0;
            for (size_t i = start; i < start + kWindow; ++i) sum += std::pow(samples[i] / 32768.0, 2);
            loudest = std::max(loudest, std::sqrt(sum / kWindow));
        }
        return loudest;
    }
};

TEST_F(AudioDesktopTest, CueLevelFollowsVolumeAndProfile) {
    using SoundPlayer::Kind;
    SoundPlayer::Settings settings{"classic", 1.0};
    SoundPlayer::setConfigProvider([&] { return settings; });
    CueMeter meter;

    // Measured on the cancel cue: the monitor of a null sink may lose the first milliseconds of
    // a new stream, which spoils the level of a click-like cue but not of a sustained one.
    const double full = meter.loudestAround(Kind::cancel);
    ASSERT_GT(full, 0.02) << "the cue must be heard at full volume";
    settings = {"classic", 0.5};
    const double half = meter.loudestAround(Kind::cancel);
    settings = {"simple", 1.0};
    const double simple = meter.loudestAround(Kind::cancel);
    settings = {"off", 1.0};
    const double off = meter.loudestAround(Kind::cancel);
    settings = {"classic", 0.0};
    const double zero = meter.loudestAround(Kind::cancel);

    EXPECT_NEAR(half / full, 0.5, 0.08) << half << " vs " << full;
    EXPECT_NEAR(simple / full, 0.4, 0.08) << simple << " vs " << full;
    EXPECT_GE(off, 0.0);
    EXPECT_LT(off, 0.001) << "off plays nothing";
    EXPECT_GE(zero, 0.0);
    EXPECT_LT(zero, 0.001) << "volume 0 plays nothing";

    // Every kind has a sound that really plays.
    settings = {"classic", 1.0};
    for (const Kind kind : {Kind::recordStart, Kind::recordStop, Kind::paste}) {
        EXPECT_GT(meter.loudestAround(kind), 0.005) << SoundPlayer::eventID(kind);
    }
    EXPECT_EQ(log().find("WARN: sound:"), std::string::npos) << log();
}

// Last: this suite kills the sound server, which nothing after it could use.
TEST_F(AudioDesktopTest, ZServerKilledDuringRecordingKeepsWhatWasCaptured) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    ASSERT_NE(runtime, nullptr);
    std::ifstream pidFile(std::filesystem::path(runtime) / "pulse/pid");
    pid_t serverPid = 0;
    ASSERT_TRUE(pidFile >> serverPid) << "the private server writes its pid";

    AudioRecorder recorder;
    int interruptions = 0;
    recorder.onInterrupted = [&] { ++interruptions; };
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(waitForSamples(recorder, 8000));

    ASSERT_EQ(::kill(serverPid, SIGKILL), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return interruptions == 1; }, 10000));
    EXPECT_TRUE(recorder.isRunning()) << "the recording stays open until the controller stops it";
    const int64_t captured = recorder.ring().sampleCount();
    const auto samples = recorder.stop();
    EXPECT_EQ(static_cast<int64_t>(samples.size()), captured);
    EXPECT_GE(samples.size(), 8000u);
    EXPECT_NE(log().find("ERROR: recorder: capture ended by the audio system"), std::string::npos) << log();

    // With the server gone a new recording is refused, promptly.
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(recorder.start());
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(recorder.isRunning());
}

}  // namespace
}  // namespace quorvel
