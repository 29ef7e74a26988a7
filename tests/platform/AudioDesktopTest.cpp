// The microphone and the sound cues against a real PulseAudio server (tests/desktop/with-desktop):
// synthesised speech goes into the virtual microphone and the recorder captures all of it; cues
// are recorded from the speakers' monitor and their level must follow the volume and the profile.
// The last suite kills the server under a recording.
#include <signal.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/AudioProcessing.h"
#include "core/WavDecoder.h"
#include "platform/AudioRecorder.h"
#include "platform/SoundPlayer.h"
#include "services/Log.h"
#include "support/RunProcess.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using SoundPlayer::Kind;

class AudioDesktopTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        if (!std::getenv("QUORVEL_TEST_MIC_SINK") || !std::getenv("QUORVEL_TEST_SPEAKERS"))
            GTEST_SKIP() << "no PulseAudio: run under tests/desktop/with-desktop";
        Log::setFile(home() / "quorvel.log");
    }
    void TearDown() override {
        SoundPlayer::setConfigProvider(nullptr);
        SoundPlayer::setOutput(nullptr);
        TempHome::TearDown();
    }

    static bool waitForSamples(const AudioRecorder& recorder, int64_t count, int ms = 5000) {
        return QTest::qWaitFor([&] { return recorder.ring().sampleCount() >= count; }, ms);
    }

    // Records the speakers' monitor around one cue and returns the loudest 20 ms RMS heard (-1: no recording).
    static double loudestCue(Kind kind) {
        QProcess parec;
        parec.start("parec", {"--raw", "--format=float32le", "--rate=16000", "--channels=1",
                              "--latency-msec=20", "-d",
                              qEnvironmentVariable("QUORVEL_TEST_SPEAKERS") + ".monitor"});
        QByteArray audio;
        // The stream is live once data flows; only then is the cue played. Then 1.2 s are kept.
        auto collected = [&](int bytes) {
            return QTest::qWaitFor([&] { return (audio += parec.readAllStandardOutput()).size() >= bytes; }, 10000);
        };
        if (!collected(6400)) return -1.0;
        audio.clear();
        SoundPlayer::play(kind);
        const bool heard = collected(16000 * 4 * 6 / 5);
        parec.terminate();
        parec.waitForFinished(3000);
        if (!heard) return -1.0;
        std::vector<float> samples(static_cast<size_t>(audio.size()) / sizeof(float));
        std::memcpy(samples.data(), audio.constData(), samples.size() * sizeof(float));
        float loudest = 0.0f;
        for (size_t start = 0; start + 320 <= samples.size(); start += 320)
            loudest = std::max(loudest, AudioProcessing::rms({samples.data() + start, 320}));
        return loudest;
    }
};

// That the recogniser understands what the recorder captured is checked end to end by the tray
// program's desktop test.
TEST_F(AudioDesktopTest, RecordsAllTheSpeechPlayedIntoTheMicrophone) {
    const std::string sentence = "the weather is nice today so we will walk to the park after lunch";
    const QString wav = QString::fromStdString((home() / "speech.wav").string());
    ASSERT_TRUE(testing::runProcess("flite", {"-voice", "kal16", "-t", QString::fromStdString(sentence), "-o", wav}).succeeded);
    const auto spoken = decodeWav(readFile(wav.toStdString()));
    ASSERT_TRUE(spoken && !spoken->empty());

    AudioRecorder recorder;
    float loudest = 0.0f;
    size_t tailSamples = 0;
    bool offMainThread = false;
    recorder.onLevel = [&](float level) {
        offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        loudest = std::max(loudest, level);
    };
    recorder.onSamples = [&](const std::vector<float>& samples) { tailSamples += samples.size(); };
    ASSERT_TRUE(recorder.start());
    EXPECT_TRUE(recorder.start()) << "already recording";
    ASSERT_TRUE(waitForSamples(recorder, 1));
    ASSERT_TRUE(testing::runProcess("paplay", {"--latency-msec=20", "-d", qEnvironmentVariable("QUORVEL_TEST_MIC_SINK"), wav}).succeeded);
    // Let the last fragment of speech reach the ring before stopping.
    ASSERT_TRUE(waitForSamples(recorder, recorder.ring().sampleCount() + 8000));
    const auto samples = recorder.stop();
    EXPECT_FALSE(recorder.isRunning());
    EXPECT_TRUE(recorder.stop().empty()) << "second stop";

    // All the speech is there (the recording began before it and ended after it).
    EXPECT_GE(samples.size(), spoken->size());
    EXPECT_LT(samples.size(), spoken->size() + 16000 * 5);
    EXPECT_FALSE(offMainThread);
    EXPECT_GT(loudest, 0.02f) << "speech must show in the level";
    EXPECT_GT(tailSamples, 0u);

    // The recorder is reusable, and every recording starts empty.
    ASSERT_TRUE(recorder.start());
    EXPECT_LT(recorder.ring().sampleCount(), static_cast<int64_t>(samples.size())) << "start empties the ring";
    ASSERT_TRUE(waitForSamples(recorder, 3200));
    const auto second = recorder.stop();
    EXPECT_GE(second.size(), 3200u);
    EXPECT_LT(second.size(), samples.size());
}

TEST_F(AudioDesktopTest, CueLevelFollowsVolumeAndProfile) {
    SoundPlayer::Settings settings{"classic", 1.0};
    SoundPlayer::setConfigProvider([&] { return settings; });
    // Measured on the cancel cue: the monitor of a null sink may lose the first milliseconds of
    // a new stream, which spoils the level of a click-like cue but not of a sustained one.
    const double full = loudestCue(Kind::cancel);
    ASSERT_GT(full, 0.02) << "the cue must be heard at full volume";
    // The level relative to full; 0: silence.
    const std::pair<SoundPlayer::Settings, double> rows[] = {
        {{"classic", 0.5}, 0.5}, {{"simple", 1.0}, 0.4}, {{"off", 1.0}, 0.0}};
    for (const auto& [now, ratio] : rows) {
        settings = now;
        const double level = loudestCue(Kind::cancel);
        const std::string what = now.profile + " " + std::to_string(now.volume) + ": " + std::to_string(level);
        ASSERT_GE(level, 0.0) << what << " (the monitor was not recorded)";
        if (ratio == 0.0) EXPECT_LT(level, 0.001) << what << " plays nothing";
        else EXPECT_NEAR(level / full, ratio, 0.08) << what << " vs " << full;
    }
    // Every kind has a sound that really plays.
    settings = {"classic", 1.0};
    for (const Kind kind : {Kind::recordStart, Kind::recordStop, Kind::paste})
        EXPECT_GT(loudestCue(kind), 0.005) << SoundPlayer::eventID(kind);
    Log::flush();
    EXPECT_EQ(readFile(home() / "quorvel.log").find("WARN: sound:"), std::string::npos);
}

// Last: this suite kills the sound server, which nothing after it could use.
TEST_F(AudioDesktopTest, ZServerKilledDuringRecordingKeepsWhatWasCaptured) {
    const auto pidFile = qEnvironmentVariable("XDG_RUNTIME_DIR").toStdString() + "/pulse/pid";
    const pid_t serverPid = std::atoi(readFile(pidFile).c_str());
    ASSERT_GT(serverPid, 0) << "the private server writes its pid";

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

    // With the server gone a new recording is refused.
    EXPECT_FALSE(recorder.start());
    EXPECT_FALSE(recorder.isRunning());
}

}  // namespace
}  // namespace quorvel
