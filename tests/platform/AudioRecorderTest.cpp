// Microphone and sound cues without any sound server: the recorder must refuse at once with its
// log line, the sound rules must pick the right cue and gain, and a missing server must cost one
// log line, not a hang.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>
#include <vector>

#include "platform/AudioPcm.h"
#include "platform/AudioRecorder.h"
#include "platform/SoundPlayer.h"
#include "services/Log.h"
#include "support/TempHome.h"

namespace {

// Runs before main (and so before Qt Multimedia or libcanberra look for a server): whatever
// this machine has, the tests see no sound server at all.
const bool kNoSoundServer = [] {
    ::setenv("PULSE_SERVER", "unix:/nonexistent/quorvel-no-pulse/native", 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("PULSE_CLIENTCONFIG", "/dev/null", 1);
    return true;
}();

}  // namespace

namespace quorvel {
namespace {

class NoServerTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        ASSERT_TRUE(kNoSoundServer);
        logFile_ = home() / "quorvel.log";
        Log::setFile(logFile_);
    }
    std::string logText() {
        Log::flush();
        return readFile(logFile_);
    }
    std::filesystem::path logFile_;
};

TEST_F(NoServerTest, RecorderStartFailsAtOnceWithTheFormatError) {
    AudioRecorder recorder;
    int reports = 0;
    recorder.onLevel = [&](float) { ++reports; };

    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(recorder.start());
    EXPECT_LT(clock.elapsed(), 3000) << "start() must not wait for a server that is not there";
    EXPECT_FALSE(recorder.isRunning());
    EXPECT_EQ(recorder.ring().sampleCount(), 0);

    // A failed start leaves nothing to stop, and stopping then logs nothing.
    EXPECT_TRUE(recorder.stop().empty());
    EXPECT_FALSE(recorder.start()) << "a second attempt fails the same way";
    QCoreApplication::processEvents();
    EXPECT_EQ(reports, 0);

    const std::string log = logText();
    EXPECT_NE(log.find("ERROR: recorder.start: невалидный hw format 0 Hz, 0 ch"), std::string::npos) << log;
    EXPECT_EQ(log.find("recorder stopped"), std::string::npos);
    EXPECT_EQ(log.find("recorder started"), std::string::npos);
}

TEST_F(NoServerTest, OnlyTheAuthorisedStatusPassesTheGate) {
    EXPECT_EQ(microphoneAuthorizationStatus(), AudioRecorder::kAuthorized);
    for (const int status : {0, 1, 2, 4, -1}) {
        AudioRecorder recorder;
        recorder.setAuthorizationProvider([status] { return status; });
        EXPECT_FALSE(recorder.start()) << status;
    }
    const std::string log = logText();
    size_t warnings = 0;
    for (size_t at = 0; (at = log.find("WARN: recorder.start: микрофон не авторизован — движок не трогаем", at)) !=
                        std::string::npos;
         ++at) {
        ++warnings;
    }
    EXPECT_EQ(warnings, 5u) << log;
    // Refused at the gate: the capture side was never asked for a device.
    EXPECT_EQ(log.find("невалидный hw format"), std::string::npos) << log;

    // Removing the provider restores the system's answer (authorised), so the next refusal comes
    // from the missing device instead.
    AudioRecorder recorder;
    recorder.setAuthorizationProvider([] { return 2; });
    recorder.setAuthorizationProvider(nullptr);
    EXPECT_FALSE(recorder.start());
    EXPECT_NE(logText().find("невалидный hw format"), std::string::npos);
}

// --- sample layouts -------------------------------------------------------------------------

template <typename T>
std::vector<char> bytesOf(std::initializer_list<T> values) {
    std::vector<char> out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.begin(), out.size());
    return out;
}

TEST(AudioPcm, IntegerAndFloatLayoutsBecomeUnitFloats) {
    struct Case {
        const char* name;
        QAudioFormat::SampleFormat format;
        std::vector<char> bytes;
        std::vector<float> expected;
    };
    const std::vector<Case> cases = {
        {"int16", QAudioFormat::Int16, bytesOf<int16_t>({-32768, 0, 16384, 32767}),
         {-1.0f, 0.0f, 0.5f, 32767.0f / 32768.0f}},
        {"int32", QAudioFormat::Int32, bytesOf<int32_t>({std::numeric_limits<int32_t>::min(), 0, 1 << 30}),
         {-1.0f, 0.0f, 0.5f}},
        {"uint8", QAudioFormat::UInt8, bytesOf<uint8_t>({0, 128, 192, 255}), {-1.0f, 0.0f, 0.5f, 127.0f / 128.0f}},
        {"float", QAudioFormat::Float, bytesOf<float>({-0.25f, 0.75f, 1.5f}), {-0.25f, 0.75f, 1.5f}},
    };
    for (const auto& c : cases) {
        std::vector<float> out{9.0f};  // stale contents must go
        const size_t size = AudioPcm::bytesPerSample(c.format);
        ASSERT_TRUE(AudioPcm::toFloat(c.bytes.data(), c.bytes.size() / size, 1, c.format, out)) << c.name;
        ASSERT_EQ(out.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < out.size(); ++i) EXPECT_FLOAT_EQ(out[i], c.expected[i]) << c.name << " #" << i;
    }
}

TEST(AudioPcm, FramesCountAllChannelsAndUnknownFormatsYieldNothing) {
    const auto stereo = bytesOf<int16_t>({16384, -16384, 8192, -8192});
    std::vector<float> out;
    ASSERT_TRUE(AudioPcm::toFloat(stereo.data(), 2, 2, QAudioFormat::Int16, out));
    EXPECT_EQ(out, (std::vector<float>{0.5f, -0.5f, 0.25f, -0.25f}));

    out = {1.0f};
    EXPECT_FALSE(AudioPcm::toFloat(stereo.data(), 2, 2, QAudioFormat::Unknown, out));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(AudioPcm::bytesPerSample(QAudioFormat::Unknown), 0u);

    QAudioFormat format;
    format.setSampleRate(44100);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    EXPECT_EQ(AudioPcm::describe(format), "44100 Hz, 2 ch, Int16");
}

// --- sound cues -----------------------------------------------------------------------------

using SoundPlayer::Kind;

class SoundRulesTest : public NoServerTest {
protected:
    void TearDown() override {
        SoundPlayer::setOutput(nullptr);
        SoundPlayer::setConfigProvider(nullptr);
        NoServerTest::TearDown();
    }
};

TEST_F(SoundRulesTest, ProfileAndVolumeGiveTheGainOrSilence) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* profile;
        double volume;
        std::optional<double> linear;  // absent: nothing plays
    };
    const std::vector<Case> cases = {
        {"classic", 0.8, 0.8},   {"classic", 1.0, 1.0},    {"classic", 3.0, 1.0},
        {"simple", 0.8, 0.32},   {"simple", 3.0, 1.0},     {"simple", 1.0, 0.4},
        {"loud", 0.5, 0.5},      {"", 0.5, 0.5},           {"off", 1.0, std::nullopt},
        {"off", 0.0, std::nullopt}, {"classic", 0.0, std::nullopt}, {"simple", 0.0, std::nullopt},
        {"classic", -0.5, std::nullopt}, {"classic", nan, std::nullopt},
    };
    for (const auto& c : cases) {
        for (const Kind kind : {Kind::recordStart, Kind::recordStop, Kind::paste, Kind::cancel}) {
            const auto cue = SoundPlayer::decide(kind, SoundPlayer::Settings{c.profile, c.volume});
            const std::string what = std::string(c.profile) + " " + std::to_string(c.volume);
            if (!c.linear) {
                EXPECT_FALSE(cue) << what;
                continue;
            }
            ASSERT_TRUE(cue) << what;
            ASSERT_TRUE(cue->decibels) << what;
            EXPECT_NEAR(*cue->decibels, 20.0 * std::log10(*c.linear), 1e-9) << what;
            EXPECT_EQ(cue->eventID, SoundPlayer::eventID(kind));
            EXPECT_EQ(cue->kind, kind);
        }
    }
    // Without a provider every cue plays at the sound's own level.
    const auto own = SoundPlayer::decide(Kind::cancel, std::nullopt);
    ASSERT_TRUE(own);
    EXPECT_FALSE(own->decibels);
}

TEST_F(SoundRulesTest, EachKindHasAThemeSoundAndStopSharesThePasteSound) {
    EXPECT_STREQ(SoundPlayer::eventID(Kind::recordStop), SoundPlayer::eventID(Kind::paste));
    EXPECT_STRNE(SoundPlayer::eventID(Kind::recordStart), SoundPlayer::eventID(Kind::recordStop));
    EXPECT_STRNE(SoundPlayer::eventID(Kind::cancel), SoundPlayer::eventID(Kind::recordStop));
    EXPECT_STRNE(SoundPlayer::eventID(Kind::cancel), SoundPlayer::eventID(Kind::recordStart));
    // The ids must name sounds the freedesktop theme (a declared dependency) really ships.
    const std::filesystem::path theme = "/usr/share/sounds/freedesktop/stereo";
    for (const Kind kind : {Kind::recordStart, Kind::recordStop, Kind::paste, Kind::cancel}) {
        EXPECT_TRUE(std::filesystem::exists(theme / (std::string(SoundPlayer::eventID(kind)) + ".oga")))
            << SoundPlayer::eventID(kind);
    }
}

TEST_F(SoundRulesTest, PlayFromAnyThreadDecidesOnTheMainThreadInCallOrder) {
    std::vector<SoundPlayer::Cue> played;
    bool offMainThread = false;
    SoundPlayer::setOutput([&](const SoundPlayer::Cue& cue) {
        offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        played.push_back(cue);
    });
    SoundPlayer::Settings settings{"simple", 0.5};
    SoundPlayer::setConfigProvider([&] { return settings; });

    std::thread caller([] {
        SoundPlayer::play(Kind::recordStart);
        SoundPlayer::play(Kind::paste);
    });
    caller.join();
    SoundPlayer::play(Kind::cancel);
    EXPECT_TRUE(played.empty()) << "play() only queues";
    ASSERT_TRUE(QTest::qWaitFor([&] { return played.size() == 3; }, 2000));
    EXPECT_FALSE(offMainThread);
    EXPECT_EQ(played[0].kind, Kind::recordStart);
    EXPECT_EQ(played[1].kind, Kind::paste);
    EXPECT_EQ(played[2].kind, Kind::cancel);
    EXPECT_NEAR(*played[0].decibels, 20.0 * std::log10(0.2), 1e-9);

    // The provider is asked when the cue is decided on the main thread, not when it is queued.
    for (const SoundPlayer::Settings& now : {SoundPlayer::Settings{"off", 1.0}, SoundPlayer::Settings{"classic", 0.0},
                                             SoundPlayer::Settings{"classic", 1.0}}) {
        settings = {"classic", 0.5};
        SoundPlayer::play(Kind::recordStop);
        settings = now;
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(played.size(), 4u) << "off and volume 0 send nothing";
    EXPECT_NEAR(*played[3].decibels, 0.0, 1e-12);
}

TEST_F(SoundRulesTest, NoSoundServerReturnsPromptlyAndLogsOnce) {
    SoundPlayer::setConfigProvider([] { return SoundPlayer::Settings{"classic", 0.8}; });
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i) SoundPlayer::play(i % 2 ? Kind::paste : Kind::recordStart);
    EXPECT_LT(clock.elapsed(), 500);
    QCoreApplication::processEvents();  // the cues are decided on the main thread...
    SoundPlayer::drain();               // ...and handed to the sound thread
    EXPECT_LT(clock.elapsed(), 5000);

    const std::string log = logText();
    size_t lines = 0;
    for (size_t at = 0; (at = log.find("WARN: sound:", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 1u) << log;
}

}  // namespace
}  // namespace quorvel
