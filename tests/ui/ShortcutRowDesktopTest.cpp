// A shortcut row on a real X server: the keys pressed through XTest while it captures arrive with
// their X keycodes and state, and become the combinations the hot-key listener will report.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <optional>

#include "support/XTestKeys.h"
#include "ui/settings/ShortcutRow.h"

namespace quorvel {
namespace {

constexpr unsigned kCtrlL = 37, kCtrlR = 105, kAltL = 64, kSuperL = 133, kSuperR = 134;
constexpr unsigned kEsc = 9, kF5 = 71, kK = 45;

TEST(ShortcutRowDesktopTest, CapturesKeysFromTheXServer) {
    _XDisplay* x = testing::openInjector();
    ASSERT_NE(x, nullptr) << "needs an X server with XTest";
    std::optional<KeyCombo> chosen;
    ShortcutRow row(QStringLiteral("Toggle Recording"), KeyCombo::defaultCancel,
                    {KeyCombo::defaultCancel, false});
    row.onChanged = [&](const std::optional<KeyCombo>& combo) { chosen = combo; };
    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));

    const auto capture = [&](std::vector<std::pair<unsigned, bool>> keys) {
        chosen.reset();
        QTest::mouseClick(row.captureButton(), Qt::LeftButton);
        EXPECT_TRUE(row.isCapturing());
        for (auto [keycode, down] : keys) {
            testing::fakeKey(x, keycode, down);
            QTest::qWait(30);
        }
        return QTest::qWaitFor([&] { return chosen.has_value(); }, 3000);
    };

    ASSERT_TRUE(capture({{kSuperR, true}, {kSuperR, false}}));
    EXPECT_EQ(*chosen, (KeyCombo{54, KeyCombo::maskCmd, KeyCombo::sideRightCmd}));
    EXPECT_EQ(row.captureButton()->text(), QStringLiteral("правый Super"));

    ASSERT_TRUE(capture({{kCtrlR, true}, {kF5, true}, {kF5, false}, {kCtrlR, false}}));
    EXPECT_EQ(*chosen, (KeyCombo{96, KeyCombo::maskCtrl | KeyCombo::sideRightCtrl, 0}));
    EXPECT_FALSE(row.isCapturing());

    // Esc under a modifier is a key; several modifiers all go into the mask.
    ASSERT_TRUE(capture({{kCtrlL, true}, {kEsc, true}, {kEsc, false}, {kCtrlL, false}}));
    EXPECT_EQ(row.captureButton()->text(), QStringLiteral("Ctrl+Esc"));
    ASSERT_TRUE(capture({{kAltL, true},
                         {kSuperL, true},
                         {kK, true},
                         {kK, false},
                         {kSuperL, false},
                         {kAltL, false}}));
    EXPECT_EQ(*chosen, KeyCombo::defaultMode);
    testing::closeInjector(x);
}

}  // namespace
}  // namespace quorvel
