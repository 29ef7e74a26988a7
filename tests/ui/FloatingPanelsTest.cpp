// The pill and the overlay as widgets, without a display (QT_QPA_PLATFORM=offscreen, as the
// stress runs use them): the pill's copy and the overlay's placement, looks and no-signal line.
#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>

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

TEST(PillCopyTest, CopiesSelectionOrWholePane) {
    PillPanel pill;
    pill.updateTooltips("правый Super", "Alt+Super+K");
    EXPECT_TRUE(pill.findChild<IconButton*>("stopButton")->toolTip().contains("(правый Super)"));
    pill.setState(PillState::expanded);
    pill.appendText("тест");
    auto* pane = pill.findChild<PillTextPane*>();
    ASSERT_NE(pane, nullptr);

    // Nothing selected: the whole pane (Ctrl+C itself is pressed on the desktop).
    EXPECT_TRUE(sendKey(*pane, 0x421, Qt::ControlModifier)) << "Ctrl+С under a Russian layout";
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "тест");

    pill.appendText("вторая строка");
    QTextCursor cursor = pane->textCursor();
    cursor.setPosition(2);
    cursor.setPosition(10, QTextCursor::KeepAnchor);  // "ст\nвтора"
    pane->setTextCursor(cursor);
    pill.copySelectionOrAll();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "ст\nвтора");
}

// Where it shows by default and after a drag is the desktop test's; here: the styles, a position
// saved on a screen that is gone, and the no-signal line.
TEST(OverlayPanelTest, StylesPlacementAndNoSignal) {
    OverlayPanel overlay;
    overlay.style = OverlayPanel::styleFromString("none");
    overlay.showPanel();
    EXPECT_FALSE(overlay.isVisible());

    overlay.style = OverlayPanel::styleFromString("something else");
    ASSERT_EQ(overlay.style, OverlayPanel::Style::classic);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    overlay.showPanel(QPoint(-3000, 50000));
    EXPECT_EQ(overlay.pos(), QPoint(area.x(), area.y() + area.height() - 64));

    overlay.setRecording(true, "push-to-talk");
    EXPECT_TRUE(overlay.redrawing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return overlay.waveView().noSignal(); }, 3000))
        << "no samples for 1.2 s";
    overlay.appendSamples(std::vector<float>(512, 0.3f));
    EXPECT_FALSE(overlay.waveView().noSignal()) << "samples draw the waveform again";

    overlay.style = OverlayPanel::Style::mini;
    overlay.setRecording(true, "push-to-talk");
    overlay.showResult("boom", false);
    EXPECT_EQ(overlay.hintText(), "") << "the mini look shows no text";
    EXPECT_FALSE(overlay.redrawing());

    overlay.hidePanel();
    EXPECT_FALSE(overlay.isVisible());
    EXPECT_TRUE(overlay.waveView().samples().empty());
}

}  // namespace
}  // namespace quorvel
