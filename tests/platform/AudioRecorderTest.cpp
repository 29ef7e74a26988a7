// Microphone and sound cues without any sound server: the recorder must refuse at once with its
// log line, the sound rules must pick the right cue and gain, and a missing server must cost one
// log line, not a hang.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
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

using SoundPlayer::Kind;

class NoServerTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        ASSERT_TRUE(kNoSoundServer);
        Log::setFile(home() / "quorvel.log");
    }
    void TearDown() override {
        SoundPlayer::setOutput(nullptr);
        SoundPlayer::setConfigProvider(nullptr);
        TempHome::TearDown();
    }
    std::string logText() {
        Log::flush();
        return readFile(home() / "quorvel.log");
    }
    size_t logged(const std::string& needle) {
        const std::string log = logText();
        size_t count = 0;
        for (size_t at = 0; (at = log.find(needle, at)) != std::string::npos; ++at) ++count;
        return count;
    }
};

TEST_F(NoServerTest, RecorderRefusesAtOnceAndAsksForADeviceOnlyWhenAuthorised) {
    EXPECT_EQ(microphoneAuthorizationStatus(), AudioRecorder::kAuthorized);
    for (const int status : {0, 1, 2, 4, -1}) {
        AudioRecorder recorder;
        recorder.setAuthorizationProvider([status] { return status; });
        EXPECT_FALSE(recorder.start()) << status;
    }
    EXPECT_EQ(logged("WARN: recorder.start: микрофон не авторизован — движок не трогаем"), 5u) << logText();
    EXPECT_EQ(logged("невалидный hw format"), 0u) << "refused at the gate: no device asked for";

    // Removing the provider restores the system's answer (authorised): the missing device refuses.
    AudioRecorder recorder;
    int reports = 0;
    recorder.onLevel = [&](float) { ++reports; };
    recorder.setAuthorizationProvider([] { return 2; });
    recorder.setAuthorizationProvider(nullptr);
    EXPECT_FALSE(recorder.start());
    EXPECT_FALSE(recorder.isRunning());
    EXPECT_EQ(recorder.ring().sampleCount(), 0);
    // A failed start leaves nothing to stop, and stopping then logs nothing.
    EXPECT_TRUE(recorder.stop().empty());
    EXPECT_FALSE(recorder.start()) << "a second attempt fails the same way";
    QCoreApplication::processEvents();
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(logged("ERROR: recorder.start: невалидный hw format 0 Hz, 0 ch"), 2u) << logText();
    EXPECT_EQ(logged("recorder stopped") + logged("recorder started"), 0u);
}

template <typename T>
std::vector<char> bytesOf(std::initializer_list<T> values) {
    std::vector<char> out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.begin(), out.size());
    return out;
}

TEST(AudioPcm, IntegerAndFloatLayoutsBecomeUnitFloatsOverAllChannels) {
    struct Case { const char* name; QAudioFormat::SampleFormat format; int channels; std::vector<char> bytes; std::vector<float> expected; };
    const Case cases[] = {
        {"int16", QAudioFormat::Int16, 1, bytesOf<int16_t>({-32768, 0, 16384, 32767}), {-1.0f, 0.0f, 0.5f, 32767.0f / 32768.0f}},
        {"int32", QAudioFormat::Int32, 1, bytesOf<int32_t>({std::numeric_limits<int32_t>::min(), 0, 1 << 30}), {-1.0f, 0.0f, 0.5f}},
        {"uint8", QAudioFormat::UInt8, 1, bytesOf<uint8_t>({0, 128, 192, 255}), {-1.0f, 0.0f, 0.5f, 127.0f / 128.0f}},
        {"float", QAudioFormat::Float, 1, bytesOf<float>({-0.25f, 0.75f, 1.5f}), {-0.25f, 0.75f, 1.5f}},
        {"int16 stereo", QAudioFormat::Int16, 2, bytesOf<int16_t>({16384, -16384, 8192, -8192}), {0.5f, -0.5f, 0.25f, -0.25f}},
    };
    for (const auto& c : cases) {
        std::vector<float> out{9.0f};  // stale contents must go
        const size_t frames = c.bytes.size() / AudioPcm::bytesPerSample(c.format) / static_cast<size_t>(c.channels);
        ASSERT_TRUE(AudioPcm::toFloat(c.bytes.data(), frames, c.channels, c.format, out)) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
    }
    std::vector<float> out{1.0f};
    EXPECT_FALSE(AudioPcm::toFloat(cases[0].bytes.data(), 2, 2, QAudioFormat::Unknown, out));
    EXPECT_TRUE(out.empty());
}

TEST_F(NoServerTest, ProfileAndVolumeGiveTheGainOrSilence) {
    const std::pair<SoundPlayer::Settings, std::optional<double>> cases[] = {  // the linear gain; none: silence
        {{"classic", 0.8}, 0.8}, {{"simple", 0.8}, 0.32}, {{"simple", 3.0}, 1.0}, {{"off", 1.0}, {}}};
    for (const auto& [settings, linear] : cases) {
        const auto cue = SoundPlayer::decide(Kind::paste, settings);
        ASSERT_EQ(cue.has_value(), linear.has_value()) << settings.profile << " " << settings.volume;
        if (!cue) continue;
        EXPECT_NEAR(cue->decibels.value_or(1), 20.0 * std::log10(*linear), 1e-9) << settings.profile;
    }
    // Without a provider every cue plays at the sound's own level.
    const auto own = SoundPlayer::decide(Kind::cancel, std::nullopt);
    ASSERT_TRUE(own);
    EXPECT_FALSE(own->decibels);
}

TEST_F(NoServerTest, PlayFromAnyThreadDecidesOnTheMainThreadInCallOrder) {
    std::vector<SoundPlayer::Cue> played;
    std::vector<Kind> kinds;
    bool offMainThread = false;
    SoundPlayer::setOutput([&](const SoundPlayer::Cue& cue) {
        offMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        played.push_back(cue);
        kinds.push_back(cue.kind);
    });
    SoundPlayer::Settings settings{"simple", 0.5};
    SoundPlayer::setConfigProvider([&] { return settings; });
    std::thread([] {
        SoundPlayer::play(Kind::recordStart);
        SoundPlayer::play(Kind::paste);
    }).join();
    SoundPlayer::play(Kind::cancel);
    EXPECT_TRUE(played.empty()) << "play() only queues";
    ASSERT_TRUE(QTest::qWaitFor([&] { return played.size() == 3; }, 2000));
    EXPECT_FALSE(offMainThread);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::recordStart, Kind::paste, Kind::cancel}));
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

TEST_F(NoServerTest, NoSoundServerIsLoggedOnce) {
    SoundPlayer::setConfigProvider([] { return SoundPlayer::Settings{"classic", 0.8}; });
    for (int i = 0; i < 5; ++i) SoundPlayer::play(i % 2 ? Kind::paste : Kind::recordStart);
    QCoreApplication::processEvents();  // the cues are decided on the main thread...
    SoundPlayer::drain();               // ...and handed to the sound thread
    EXPECT_EQ(logged("WARN: sound:"), 1u) << logText();
}

}  // namespace
}  // namespace quorvel
