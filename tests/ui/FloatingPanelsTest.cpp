// The pill and the overlay as widgets, without a display (QT_QPA_PLATFORM=offscreen, as the
// stress runs use them): looks and sizes, timers only while something moves, keys, copy, the
// overlay's placement, no-signal line and result delays.
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>
#include <QToolTip>

#include "services/Log.h"
#include "support/TempHome.h"
#include "ui/BarsIndicatorView.h"
#include "ui/FadeLabel.h"
#include "ui/IconButton.h"
#include "ui/OverlayPanel.h"
#include "ui/PillPanel.h"
#include "ui/PillTextPane.h"
#include "ui/WaveView.h"

namespace quorvel {
namespace {

bool sendKey(QWidget& target, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(&target, &event);
    return event.isAccepted();
}

// The label shows its whole text, without an ellipsis.
bool fitsUncut(const FadeLabel& label) { return label.fontMetrics().horizontalAdvance(label.text()) <= label.width(); }

QPoint topCentre(const QWidget& w) { return {w.x() + w.width() / 2, w.y()}; }

TEST(PillPanelTest, LooksSizesTimersAndKeys) {
    PillPanel pill;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    pill.applySavedPosition(std::nullopt, std::nullopt);
    EXPECT_EQ(pill.pos(), QPoint(area.x() + area.width() / 2 - 60, area.y() + 12));

    pill.setState(PillState::collapsed);
    EXPECT_FALSE(pill.isVisible()) << "collapsing a hidden pill keeps it hidden";

    const QPoint anchor = topCentre(pill);
    pill.setState(PillState::recording);
    EXPECT_TRUE(pill.isVisible());
    EXPECT_EQ(pill.size(), QSize(132, 36));
    EXPECT_EQ(topCentre(pill), anchor);
    EXPECT_TRUE(pill.animating());
    EXPECT_FALSE(pill.findChild<IconButton*>("stopButton")->isEnabled()) << "stop appears on hover only";

    // Esc while recording belongs to the global cancel key.
    EXPECT_FALSE(sendKey(pill, Qt::Key_Escape, Qt::NoModifier));
    EXPECT_EQ(pill.state(), PillState::recording);

    pill.pushSamples(std::vector<float>(160, 0.2f));
    pill.pushSamples({});
    EXPECT_NEAR(pill.bars().levels().levels().back(), 0.6f, 1e-5) << "an empty block is no level";

    auto* timer = pill.findChild<FadeLabel*>("timerLabel");
    const QString shown = timer->text();
    timer->setText("10:00");
    EXPECT_TRUE(fitsUncut(*timer)) << "long recordings' time fits";
    timer->setText(shown);

    pill.setState(PillState::thinking);
    EXPECT_TRUE(pill.animating());
    EXPECT_TRUE(pill.bars().levels().thinking());

    const struct {
        PillState state;
        QSize size;
    } still[]{{PillState::expanded, {320, 200}}, {PillState::collapsed, {120, 32}}};
    for (const auto& look : still) {
        pill.setState(look.state);
        EXPECT_EQ(pill.size(), look.size);
        EXPECT_EQ(topCentre(pill), anchor);
        EXPECT_FALSE(pill.animating()) << "nothing moves: no timer";
    }
    pill.setState(PillState::recording);
    pill.hide();
    EXPECT_FALSE(pill.animating()) << "hidden: no timer";

    pill.setState(PillState::expanded);
    EXPECT_TRUE(sendKey(pill, Qt::Key_Escape, Qt::NoModifier));
    EXPECT_EQ(pill.state(), PillState::collapsed);
}

TEST(PillCopyTest, CopiesSelectionOrWholePane) {
    PillPanel pill;
    pill.updateTooltips("правый Super", "Alt+Super+K");
    EXPECT_EQ(pill.findChild<IconButton*>("stopButton")->toolTip(), "Остановить и вставить (правый Super)");
    pill.setState(PillState::expanded);
    pill.appendText("тест");
    auto* pane = pill.findChild<PillTextPane*>();
    ASSERT_NE(pane, nullptr);

    // Nothing selected: the whole pane (Ctrl+C itself is pressed on the desktop).
    EXPECT_TRUE(sendKey(*pane, 0x421, Qt::ControlModifier)) << "Ctrl+С under a Russian layout";
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "тест");

    pill.appendText("вторая строка");
    EXPECT_EQ(pill.text(), "тест\nвторая строка");
    QTextCursor cursor = pane->textCursor();
    cursor.setPosition(2);
    cursor.setPosition(10, QTextCursor::KeepAnchor);  // "ст\nвтора"
    pane->setTextCursor(cursor);
    pill.copySelectionOrAll();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "ст\nвтора");
}

TEST(OverlayPanelTest, PlacementStylesAndNoSignal) {
    OverlayPanel overlay;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    overlay.style = OverlayPanel::styleFromString("none");
    overlay.showPanel();
    EXPECT_FALSE(overlay.isVisible());

    overlay.style = OverlayPanel::styleFromString("something else");
    ASSERT_EQ(overlay.style, OverlayPanel::Style::classic);
    overlay.showPanel();
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_EQ(overlay.geometry(), QRect(area.x() + area.width() - 312, area.y() + 12, 300, 64));
    overlay.showPanel(QPoint(40, 50));
    EXPECT_EQ(overlay.pos(), QPoint(40, 50));
    overlay.showPanel(QPoint(-3000, 50000));  // saved on a screen that is gone
    EXPECT_EQ(overlay.pos(), QPoint(area.x(), area.y() + area.height() - 64));

    EXPECT_FALSE(overlay.redrawing());
    overlay.setRecording(true, "push-to-talk");
    EXPECT_EQ(overlay.hintText(), "push-to-talk");
    EXPECT_EQ(overlay.timeText(), "0:00");
    EXPECT_TRUE(overlay.redrawing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return overlay.waveView().noSignal(); }, 3000)) << "no samples for 1.2 s";
    overlay.appendSamples(std::vector<float>(512, 0.3f));
    EXPECT_FALSE(overlay.waveView().noSignal()) << "samples draw the waveform again";

    overlay.style = OverlayPanel::Style::mini;
    overlay.setRecording(true, "push-to-talk");
    EXPECT_EQ(overlay.hintText(), "");
    overlay.showResult("boom", false);
    EXPECT_EQ(overlay.hintText(), "") << "the mini look shows no text";
    EXPECT_FALSE(overlay.redrawing());

    overlay.hidePanel();
    EXPECT_FALSE(overlay.isVisible());
    EXPECT_TRUE(overlay.waveView().samples().empty());
}

TEST(OverlayPanelTest, ResultHidesAfterItsDelayUnlessAlwaysShownOrRecordingAgain) {
    OverlayPanel success, failure, always, again;
    always.alwaysShow = true;
    for (OverlayPanel* panel : {&success, &failure, &always, &again}) {
        panel->showPanel();
        panel->setRecording(true, "push-to-talk");
        panel->appendSamples(std::vector<float>(100, 0.1f));
    }
    success.showResult("", true);
    failure.showResult("Не распознано", false);
    always.showResult("", true);
    again.showResult("", true);
    again.setRecording(true, "push-to-talk");  // a new recording before the result hides
    EXPECT_EQ(success.hintText(), "✓ вставлено");
    EXPECT_EQ(failure.hintText(), "✗ Не распознано");
    const auto* hint = failure.findChild<FadeLabel*>("hintLabel");
    EXPECT_TRUE(fitsUncut(*hint)) << "the common failure is not cut off";

    ASSERT_TRUE(QTest::qWaitFor([&] { return !success.isVisible(); }, 10000));
    EXPECT_TRUE(failure.isVisible()) << "a failure stays longer";
    EXPECT_TRUE(success.waveView().samples().empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !failure.isVisible(); }, 10000));
    EXPECT_TRUE(again.isVisible());
    EXPECT_TRUE(always.isVisible());
    always.hidePanel();
    EXPECT_TRUE(always.isVisible()) << "alwaysShow ignores hide";
    EXPECT_FALSE(always.waveView().samples().empty());
}

}  // namespace
}  // namespace quorvel
