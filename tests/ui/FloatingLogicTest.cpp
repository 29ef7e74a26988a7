// The floating windows' arithmetic, without painting: placement rules, the level bars, the
// waveform's segments and sample cap, elapsed-time and key labels. Positions are Qt's top-left
// corners.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <tuple>

#include "ui/BarLevels.h"
#include "ui/FloatingGeometry.h"
#include "ui/UiTexts.h"
#include "ui/WaveSegments.h"

namespace quorvel {
namespace {

namespace G = FloatingGeometry;

const QRect kMac(0, 0, 1440, 875);     // a laptop's visible frame
const QRect kScreen(0, 0, 1280, 800);  // the desktop tests' screen
const QSize kPill(120, 32), kRecording(132, 36), kExpanded(320, 200), kOverlay(300, 64);

TEST(FloatingGeometryTest, PlacementRules) {
    // A new look keeps the pill's top centre, then 8 inside the screen.
    const std::vector<std::tuple<QRect, QSize, QPoint>> resized{
        {{600, 12, 120, 32}, kRecording, {594, 12}},
        {{1150, 12, 120, 32}, kExpanded, {952, 12}},
        {{500, 790, 120, 32}, kExpanded, {400, 592}},
    };
    for (const auto& [frame, size, at] : resized)
        EXPECT_EQ(G::resizeKeepingAnchor(frame, size, true, kScreen).topLeft(), at) << frame.x();

    // A saved start is used (clamped 8 inside) while 40 px of the pill or its bottom edge stay on
    // the screen; without one, or off the screen, it is centred 12 below the top.
    using Saved = std::optional<double>;
    const std::vector<std::tuple<Saved, Saved, QPoint>> starts{
        {std::nullopt, std::nullopt, {660, 12}},
        {-50.0, 300.0, {660, 12}},
        {200.4, 300.6, {200, 301}},
        {1400.0, 300.0, {1312, 300}},
        {200.0, -12.0, {200, 8}},
        {200.0, 844.0, {200, 835}},
    };
    for (const auto& [x, y, at] : starts)
        EXPECT_EQ(G::pillStartPosition(x, y, kPill, kMac), at)
            << x.value_or(0) << ", " << y.value_or(0);

    // The overlay: top-right with 12 margins, or near the pointer: its bottom 40 below the pointer
    // far above the middle, else 24 above it; 8 inside the screen.
    EXPECT_EQ(G::overlayDefaultPosition(kOverlay, kMac), QPoint(1128, 12));
    const std::vector<std::tuple<QPoint, std::optional<QRect>, QPoint>> nearPointer{
        {{500, 150}, std::nullopt, {350, 174}},
        {{700, 237}, kMac, {550, 213}},
        {{700, 238}, kMac, {550, 787}},
        {{20, 100}, kMac, {8, 76}},
    };
    for (const auto& [pointer, area, at] : nearPointer)
        EXPECT_EQ(G::overlayNearPointer(pointer, kOverlay, area), at) << pointer.y();

    // A drag follows the pointer and keeps the pill 4 inside.
    EXPECT_EQ(G::dragPosition({100, 100}, {10, 10}, {40, 30}, kPill, kScreen, 4), QPoint(130, 120));
    EXPECT_EQ(G::dragPosition({100, 100}, {10, 10}, {2000, -150}, kPill, kScreen, 4),
              QPoint(1156, 4));
}

TEST(BarLevelsTest, LevelsSilenceAndThinking) {
    struct Row {
        const char* what;
        std::vector<float> pushes;
        bool thinking;
        double seconds;
        float stored;  // the newest level
        int streak;
        int bar;
        double alpha, height;  // of `bar` in a 24 px view (full height 20)
    };
    const std::vector<float> quiet46(46, 0.01f);
    std::vector<float> thenLoud = quiet46;
    thenLoud.push_back(0.3f);
    const std::vector<Row> rows{
        {"0.2 is stored as 0.6", {0.2f}, false, 0, 0.6f, 0, 6, 0.82, 12.96},
        {"negative is 0", {-1.0f}, false, 0, 0.0f, 1, 6, 0.55, 3},
        {"0.01 counts as quiet", {0.01f}, false, 0, 0.03f, 1, 6, 0.5635, 3},
        {"46 quiet pushes: two dim stubs", quiet46, false, 0, 0.03f, 46, 1, 0.25, 3},
        {"46 quiet pushes: the rest hidden", quiet46, false, 0, 0.03f, 46, 2, 0, 3},
        {"one loud push restores", thenLoud, false, 0, 0.9f, 0, 6, 0.955, 18.24},
        {"thinking ignores silence: bar 0 at t 0", quiet46, true, 0, 0.03f, 46, 0, 1.0, 20},
        {"thinking: the pulse travels", {}, true, 0.1, 0.0f, 0, 0, 0.79, 16.4},
    };
    for (const Row& row : rows) {
        BarLevels bars;
        for (float level : row.pushes) bars.pushLevel(level);
        bars.setThinking(row.thinking);
        EXPECT_NEAR(bars.levels().back(), row.stored, 1e-6) << row.what;
        EXPECT_EQ(bars.silenceStreak(), row.streak) << row.what;
        const BarShape shape = bars.shapes(24, row.seconds)[static_cast<size_t>(row.bar)];
        EXPECT_NEAR(shape.alpha, row.alpha, 1e-6) << row.what;
        EXPECT_NEAR(shape.height, row.height, 1e-6) << row.what;
    }
    EXPECT_NEAR(BarLevels::rms(std::vector<float>{0.3f, -0.4f}), std::sqrt(0.125), 1e-6);
    EXPECT_EQ(BarLevels::rms({}), 0);
}

TEST(WaveSegmentsTest, SegmentsAndSampleCap) {
    EXPECT_TRUE(WaveSegments::compute(std::vector<float>{0.5f}, 100, 36).empty());

    // 3 × 0.5 is capped at the full height.
    const auto two = WaveSegments::compute(std::vector<float>{0.5f, -0.1f}, 100, 36);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_DOUBLE_EQ(two[0].bottom - two[0].top, 36);

    std::vector<float> full(WaveSegments::maxSamples, 0.0f);
    full[31680] = 0.1f;  // the last window's peak
    const auto segments = WaveSegments::compute(full, 100, 36);
    ASSERT_EQ(segments.size(), 100u);  // windows of 320 samples
    EXPECT_NEAR(segments.back().x, 100.0 * 31680 / 31999, 1e-9);
    EXPECT_NEAR(segments.back().bottom - segments.back().top, 2 * 18 * 0.3, 1e-6);
    // Silence keeps 1.5 each way.
    EXPECT_DOUBLE_EQ(segments.front().bottom - segments.front().top, 3);

    EXPECT_EQ(WaveSegments::compute(std::vector<float>(150, 0.0f), 100.7, 36).size(), 150u);

    // 40 000 samples in blocks, then in one piece: the newest 32 000 stay, in order.
    std::vector<float> numbers(40000);
    std::iota(numbers.begin(), numbers.end(), 0.0f);
    for (const bool blocks : {true, false}) {
        std::vector<float> kept;
        if (blocks)
            for (size_t at = 0; at < numbers.size(); at += 400)
                WaveSegments::appendCapped(kept, std::span(numbers).subspan(at, 400));
        else
            WaveSegments::appendCapped(kept, numbers);
        ASSERT_EQ(kept.size(), 32000u);
        EXPECT_EQ(kept.front(), 8000.0f);
        EXPECT_EQ(kept.back(), 39999.0f);
    }
}

TEST(UiTextsTest, TimeAndKeyLabels) {
    const std::vector<std::pair<double, const char*>> times{
        {65.9, "1:05"}, {3600, "60:00"}, {-3, "0:00"}, {NAN, "0:00"}};
    for (const auto& [seconds, label] : times)
        EXPECT_EQ(UiTexts::elapsedLabel(seconds), label) << seconds;

    // A modifier alone, and two with a key; captured combinations' labels are the shortcut rows'.
    EXPECT_EQ(UiTexts::keyLabel({56, KeyCombo::maskShift, 0}), "Shift");
    EXPECT_EQ(UiTexts::keyLabel({49, KeyCombo::maskCtrl | KeyCombo::maskShift, 0}),
              "Ctrl+Shift+Space");
}

}  // namespace
}  // namespace quorvel
