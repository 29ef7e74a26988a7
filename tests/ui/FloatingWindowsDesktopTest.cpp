// The pill and the overlay on a real (private) X server with a window manager: clicks on the
// pill leave the keyboard focus in another process's text field, the windows carry the
// above / all-desktops / no-taskbar hints, pointer drags move them, and every look is
// photographed (light and dark) into <build>/screenshots with checks on its pixels.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <cmath>
#include <fstream>

#include "support/FieldApp.h"
#include "support/RunProcess.h"
#include "support/TempHome.h"
#include "ui/BarsIndicatorView.h"
#include "ui/IconButton.h"
#include "ui/OverlayPanel.h"
#include "ui/PillPanel.h"
#include "ui/PillTextPane.h"
#include "ui/Theme.h"
#include "ui/WaveView.h"

namespace quorvel {
namespace {

QString run(const QString& program, const QStringList& args) {
    return QString::fromUtf8(testing::runProcess(program, args).output);
}

// Pointer events through XTest (xdotool without a target window).
void pointerTo(QPoint global) {
    run("xdotool", {"mousemove", QString::number(global.x()), QString::number(global.y())});
}
void clickAt(QPoint global, int button = 1) {
    pointerTo(global);
    QTest::qWait(60);  // let enter/hover reach the window before the press
    run("xdotool", {"click", QString::number(button)});
}
QPoint centreOf(const QWidget& w) {
    return w.mapToGlobal(w.rect().center());
}

// The window manager and X server catch up with a geometry change or a repaint.
void settle() {
    QTest::qWait(150);
}

unsigned long activeWindow() {
    const QString out = run("xprop", {"-root", "_NET_ACTIVE_WINDOW"});
    return out.section('#', 1).trimmed().section(',', 0, 0).toULong(nullptr, 16);
}

// A collapsed pill on screen at (x, y).
bool showCollapsedAt(PillPanel& pill, double x, double y) {
    pill.applySavedPosition(x, y);
    pill.setState(PillState::collapsed);
    pill.showWithoutActivating();
    const bool exposed = QTest::qWaitForWindowExposed(&pill);
    settle();
    return exposed;
}

// Presses the left button at `from`, moves to `to` in `steps` even steps and lets go.
void drag(QPoint from, QPoint to, int steps) {
    pointerTo(from);
    run("xdotool", {"mousedown", "1"});
    for (int step = 1; step <= steps; ++step) {
        pointerTo(from + (to - from) * step / steps);
        QTest::qWait(20);
    }
    run("xdotool", {"mouseup", "1"});
}

// Run under tests/desktop/with-desktop (ctest does).
using FloatingWindowsDesktopTest = testing::TempHome;

TEST_F(FloatingWindowsDesktopTest, ClicksOnEveryLookLeaveTheFocusInTheTextField) {
    testing::FieldApp field(home() / "field.txt");
    ASSERT_TRUE(field.waitUntilFocused());
    unsigned long fieldWindow = 0;  // the window manager marks it active a moment after the focus
    ASSERT_TRUE(QTest::qWaitFor([&] { return (fieldWindow = activeWindow()) != 0; }, 5000));

    // The program answers record (a toggle) and cancel with a new look; the steps wait for it.
    PillPanel pill;
    int modeTaps = 0;
    pill.onRecord = [&] {
        const bool recording = pill.state() == PillState::recording;
        pill.setState(recording ? PillState::collapsed : PillState::recording);
    };
    pill.onCancel = [&] { pill.setState(PillState::collapsed); };
    pill.onModeTap = [&] { ++modeTaps; };
    ASSERT_TRUE(showCollapsedAt(pill, 520.0, 200.0));

    // Above the others, on every desktop, not in the taskbar or pager.
    const QString id = QString::number(pill.winId());
    const QString states = run("xprop", {"-id", id, "_NET_WM_STATE"});
    for (const char* state :
         {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"})
        EXPECT_TRUE(states.contains(state)) << state << " in " << states.toStdString();
    EXPECT_TRUE(run("xprop", {"-id", id, "_NET_WM_DESKTOP"}).contains("4294967295"));

    const std::pair<const char*, PillState> steps[]{
        {"modeButton", PillState::collapsed},     {"recordButton", PillState::recording},
        {"stopButton", PillState::collapsed},     {"expandButton", PillState::expanded},
        {"collapseButton", PillState::collapsed}, {"expandButton", PillState::expanded},
        {"closeButton", PillState::collapsed},    {"recordButton", PillState::recording},
        {"cancelButton", PillState::collapsed}};
    for (const auto& [button, after] : steps) {
        clickAt(centreOf(*pill.findChild<IconButton*>(button)));
        ASSERT_TRUE(QTest::qWaitFor([&, after = after] { return pill.state() == after; }, 3000))
            << button;
        settle();
        EXPECT_EQ(activeWindow(), fieldWindow) << "after " << button;
        EXPECT_FALSE(pill.isActiveWindow()) << button;
    }
    EXPECT_EQ(modeTaps, 1);

    // The right-click menu gives the focus back when it closes.
    clickAt(centreOf(pill), 3);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 3000));
    run("xdotool", {"key", "Escape"});
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 3000));
    settle();
    EXPECT_EQ(activeWindow(), fieldWindow);

    run("xdotool", {"type", "--delay", "30", "ok"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return field.text() == "ok"; }, 5000)) << field.text();

    // A click into the text pane is the one way in: then Ctrl+C copies and Esc collapses.
    const auto clickIntoPane = [&] {
        pill.setState(PillState::expanded);
        settle();
        clickAt(centreOf(*pill.findChild<PillTextPane*>()));
        return QTest::qWaitFor([&] { return pill.isActiveWindow(); }, 3000);
    };
    pill.appendText("скопируй меня");
    ASSERT_TRUE(clickIntoPane());
    run("xdotool", {"key", "ctrl+c"});
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return QGuiApplication::clipboard()->text() == "скопируй меня"; }, 3000));
    run("xdotool", {"key", "Escape"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return pill.state() == PillState::collapsed; }, 3000));
    // Collapsing gives the focus back: typing goes on in the text field.
    run("xdotool", {"type", "--delay", "30", "!"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return field.text() == "ok!"; }, 5000)) << field.text();

    // So does a recording started (by the hot key) while the pane has the focus: its text is
    // pasted into the focused window.
    ASSERT_TRUE(clickIntoPane());
    pill.setState(PillState::recording);
    EXPECT_TRUE(QTest::qWaitFor([&] { return activeWindow() == fieldWindow; }, 3000));
}

TEST_F(FloatingWindowsDesktopTest,
       DraggingMovesTheWindowsAcrossScreensAndReportsOncePositionAfterwards) {
    // The 1280 px display as two 640 px monitors side by side.
    run("xrandr", {"--setmonitor", "left", "640/169x800/211+0+0", "screen"});
    run("xrandr", {"--setmonitor", "right", "640/169x800/211+640+0", "none"});
    ASSERT_TRUE(QTest::qWaitFor([] { return QGuiApplication::screens().size() == 2; }, 5000));
    PillPanel pill;
    std::vector<QRect> reported;
    pill.onMoveEnd = [&reported](const QRect& frame) { reported.push_back(frame); };
    ASSERT_TRUE(showCollapsedAt(pill, 300, 300));
    const QPoint start = pill.pos();
    // Quick look changes: the window manager's late answers to earlier placements are no moves.
    const PillState looks[]{PillState::recording, PillState::thinking, PillState::expanded,
                            PillState::collapsed};
    for (int i = 0; i < 40; ++i) {
        pill.setState(looks[i % 4]);
        if (i % 3 == 0) QCoreApplication::processEvents();
    }
    QTest::qWait(800);
    ASSERT_TRUE(reported.empty()) << "placing the pill is not a move";
    ASSERT_EQ(pill.pos(), start);

    // Grab the background between two buttons and drag by (+100, +60) in steps.
    drag(pill.mapToGlobal(QPoint(42, 16)), pill.mapToGlobal(QPoint(142, 76)), 5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reported.empty(); }, 3000));
    QTest::qWait(600);
    ASSERT_EQ(reported.size(), 1u) << "one report per drag";
    EXPECT_EQ(reported.front().topLeft(), start + QPoint(100, 60));

    // Onto the right-hand screen: a new look and a restart keep the pill there.
    drag(pill.mapToGlobal(QPoint(42, 16)), pill.mapToGlobal(QPoint(542, -44)), 6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return reported.size() == 2; }, 3000));
    EXPECT_EQ(pill.pos(), QPoint(900, 300));
    pill.setState(PillState::recording);
    EXPECT_EQ(pill.geometry(), QRect(894, 300, 132, 36));
    PillPanel restarted;
    restarted.applySavedPosition(reported.back().x(), reported.back().y());
    EXPECT_EQ(restarted.pos(), QPoint(900, 300));

    OverlayPanel overlay;
    std::vector<QPoint> saved;
    overlay.onPositionSave = [&](const QPoint& at) { saved.push_back(at); };
    overlay.showPanel(QPoint(200, 500));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&overlay));
    settle();
    // Past the top of the screen.
    drag(overlay.mapToGlobal(QPoint(150, 4)), overlay.mapToGlobal(QPoint(100, -996)), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !saved.empty(); }, 3000));
    EXPECT_EQ(saved.back(), QPoint(150, overlay.screen()->availableGeometry().y()))
        << "held inside the screen";
    run("xrandr", {"--delmonitor", "right"});
    run("xrandr", {"--delmonitor", "left"});
}

// ---- screenshots ------------------------------------------------------------------------

QImage photograph(QWidget& window, const QString& name) {
    window.update();
    settle();
    const QRect at = window.geometry();
    const QPixmap shot = window.screen()->grabWindow(0, at.x(), at.y(), at.width(), at.height());
    const QImage image = shot.toImage();
    const QString folder = QUORVEL_BINARY_DIR "/screenshots";
    QDir().mkpath(folder);
    image.save(folder + "/" + name + ".png");
    return image;
}

// Written for a person to look at; a few pixels check the contrast of the near-black look and the
// text.
TEST_F(FloatingWindowsDesktopTest, EveryLookPhotographedInLightAndDark) {
    for (const bool dark : {false, true}) {
        const QString theme = dark ? "dark" : "light";
        Theme::apply(theme.toStdString());  // the program's own palettes

        PillPanel pill;
        ASSERT_TRUE(showCollapsedAt(pill, 520.0, 200.0));
        photograph(pill, "pill-collapsed-" + theme);

        pill.setState(PillState::recording);
        for (int i = 0; i < 7; ++i) pill.bars().pushLevel(0.05f * static_cast<float>(i));
        const QImage shot = photograph(pill, "pill-recording-" + theme);
        EXPECT_LT(shot.pixelColor(20, 18).lightness(), 50) << "the recording look is near-black";
        EXPECT_LT(shot.pixelColor(0, 18).lightness(), 90)
            << "no light rim around the near-black look";
        // Hover shows the time and the stop/cancel buttons.
        pointerTo(pill.mapToGlobal(QPoint(66, 18)));
        QTest::qWait(300);
        photograph(pill, "pill-recording-hover-" + theme);
        pointerTo({5, 795});
        pill.setState(PillState::thinking);
        photograph(pill, "pill-thinking-" + theme);

        pill.setState(PillState::expanded);
        photograph(pill, "pill-expanded-empty-" + theme);
        pill.appendText("Привет, это проверка диктовки.");
        pill.appendText("⚠️ Тишина — проверьте вход микрофона");
        photograph(pill, "pill-expanded-" + theme);
        pill.hide();

        OverlayPanel overlay;
        overlay.showPanel(QPoint(400, 400));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&overlay));
        overlay.setRecording(false, "распознаю…");
        photograph(overlay, "overlay-idle-" + theme);
        overlay.setRecording(true, "push-to-talk");
        std::vector<float> wave(16000);  // syllables: a tone under a slow, uneven envelope
        for (size_t i = 0; i < wave.size(); ++i) {
            const double t = static_cast<double>(i) / 16000;
            wave[i] = static_cast<float>(0.3 * std::sin(t * 900) *
                                         std::pow(std::sin(t * 17) * std::sin(t * 5.3), 2));
        }
        overlay.appendSamples(wave);
        photograph(overlay, "overlay-recording-" + theme);
        overlay.style = OverlayPanel::Style::mini;
        overlay.setRecording(true, "push-to-talk");
        photograph(overlay, "overlay-mini-" + theme);
        overlay.style = OverlayPanel::Style::classic;
        overlay.hidePanel();
        overlay.showPanel(QPoint(400, 400));
        overlay.setRecording(true, "push-to-talk");
        overlay.waveView().setNoSignal(true);
        photograph(overlay, "overlay-no-signal-" + theme);
        overlay.showResult("", true);
        photograph(overlay, "overlay-result-success-" + theme);
        overlay.showResult("Не распознано", false);
        photograph(overlay, "overlay-result-failure-" + theme);
    }
    Theme::apply("auto");
}

}  // namespace
}  // namespace quorvel
