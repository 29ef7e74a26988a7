// A saved recording played through the real sound server of the test desktop: the tone reaches
// the speakers, pausing holds the position, a second player pauses the first, and the end of the
// file goes back to the start.
#include <QProcess>
#include <QTest>
#include <cmath>
#include <numbers>

#include "core/WavWriter.h"
#include "support/TempHome.h"
#include "ui/settings/RecordingPlayer.h"

namespace quorvel {
namespace {

// The loudest 16-bit sample in raw little-endian mono bytes.
int peak(const QByteArray& bytes) {
    int loudest = 0;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
        loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
    }
    return loudest;
}

class RecordingPlayerDesktopTest : public testing::TempHome {};

TEST_F(RecordingPlayerDesktopTest, PlaysPausesAndEnds) {
    std::vector<float> tone(16'000 * 2);  // 2 s of 440 Hz at half scale
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * static_cast<double>(i) / 16'000));
    const auto wav = home() / "rec-1.wav";
    ASSERT_FALSE(WavWriter::write(tone, 16'000, wav));
    ASSERT_TRUE(RecordingPlayer::looksPlayable(wav));

    QProcess speakers;
    speakers.start("parec", {"-d", "speakers.monitor", "--format=s16le", "--rate=16000", "--channels=1",
                             "--latency-msec=20"});
    ASSERT_TRUE(speakers.waitForStarted());

    RecordingPlayer player(wav);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.position() > 0.5; }, 3000));
    player.pause();
    const double held = player.position();
    QTest::qWait(300);
    EXPECT_FALSE(player.playing());
    EXPECT_DOUBLE_EQ(player.position(), held);

    // Play pressed on another card pauses this one: never two recordings over each other.
    ASSERT_TRUE(player.play());
    RecordingPlayer other(wav);
    ASSERT_TRUE(other.play());
    EXPECT_FALSE(player.playing());
    other.stop();

    ASSERT_TRUE(player.play());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !player.playing(); }, 5000)) << "stops at the end";
    EXPECT_EQ(player.position(), 0.0);

    speakers.kill();
    speakers.waitForFinished();
    EXPECT_GT(peak(speakers.readAllStandardOutput()), 12'000) << "the tone reached the speakers";
}

}  // namespace
}  // namespace quorvel
