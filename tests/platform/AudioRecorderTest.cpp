// Microphone and sound cues without any sound server: the recorder must refuse at once with its
// log line, the sound rules must pick the right gain, and a missing server must cost one log
// line, not a hang.
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
    size_t logged(const std::string& needle) {
        Log::flush();
        const std::string log = readFile(home() / "quorvel.log");
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
    EXPECT_EQ(logged("WARN: recorder.start: микрофон не авторизован"), 5u);
    EXPECT_EQ(logged("невалидный hw format"), 0u) << "refused at the gate: no device asked for";

    // Removing the provider restores the system's answer (authorised): the missing device refuses.
    AudioRecorder recorder;
    recorder.setAuthorizationProvider([] { return 2; });
    recorder.setAuthorizationProvider(nullptr);
    EXPECT_FALSE(recorder.start());
    EXPECT_FALSE(recorder.isRunning());
    EXPECT_EQ(recorder.ring().sampleCount(), 0);
    // A failed start leaves nothing to stop.
    EXPECT_TRUE(recorder.stop().empty());
    EXPECT_FALSE(recorder.start()) << "a second attempt fails the same way";
    EXPECT_EQ(logged("ERROR: recorder.start: невалидный hw format"), 2u);
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

TEST_F(NoServerTest, PlayFromAnyThreadDecidesTheGainOnTheMainThreadInCallOrder) {
    // Without a provider every cue plays at the sound's own level.
    EXPECT_FALSE(SoundPlayer::decide(Kind::cancel, std::nullopt).value().decibels);
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
    // Classic plays at the volume; simple at a part of it, at most full.
    for (const SoundPlayer::Settings& now :
         {SoundPlayer::Settings{"off", 1.0}, SoundPlayer::Settings{"classic", 0.0},
          SoundPlayer::Settings{"classic", 0.8}, SoundPlayer::Settings{"simple", 3.0}}) {
        settings = {"classic", 0.5};
        SoundPlayer::play(Kind::recordStop);
        settings = now;
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(played.size(), 5u) << "off and volume 0 send nothing";
    EXPECT_NEAR(*played[3].decibels, 20.0 * std::log10(0.8), 1e-9);
    EXPECT_NEAR(*played[4].decibels, 0.0, 1e-12);

    // The real output without a sound server: one warning for all the cues, and no hang.
    SoundPlayer::setOutput(nullptr);
    for (const Kind kind : {Kind::recordStart, Kind::paste, Kind::recordStart})
        SoundPlayer::play(kind);
    QCoreApplication::processEvents();  // the cues are decided on the main thread...
    SoundPlayer::drain();               // ...and handed to the sound thread
    EXPECT_EQ(logged("WARN: sound:"), 1u);
}

}  // namespace
}  // namespace quorvel
