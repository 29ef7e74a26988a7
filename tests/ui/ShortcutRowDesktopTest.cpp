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

    // Presses the keys in order and lets them go in reverse, as a person does.
    const auto capture = [&](const std::vector<unsigned>& keys) {
        chosen.reset();
        QTest::mouseClick(row.captureButton(), Qt::LeftButton);
        EXPECT_TRUE(row.isCapturing());
        for (size_t i = 0; i < 2 * keys.size(); ++i) {
            const bool down = i < keys.size();
            testing::fakeKey(x, keys[down ? i : 2 * keys.size() - 1 - i], down);
            QTest::qWait(30);
        }
        return QTest::qWaitFor([&] { return chosen.has_value(); }, 3000);
    };

    ASSERT_TRUE(capture({kSuperR}));
    EXPECT_EQ(*chosen, (KeyCombo{54, KeyCombo::maskCmd, KeyCombo::sideRightCmd}));
    EXPECT_EQ(row.captureButton()->text(), QStringLiteral("правый Super"));

    ASSERT_TRUE(capture({kCtrlR, kF5}));
    EXPECT_EQ(*chosen, (KeyCombo{96, KeyCombo::maskCtrl | KeyCombo::sideRightCtrl, 0}));
    EXPECT_FALSE(row.isCapturing());

    // Esc under a modifier is a key; several modifiers all go into the mask.
    ASSERT_TRUE(capture({kCtrlL, kEsc}));
    EXPECT_EQ(row.captureButton()->text(), QStringLiteral("Ctrl+Esc"));
    ASSERT_TRUE(capture({kAltL, kSuperL, kK}));
    EXPECT_EQ(*chosen, KeyCombo::defaultMode);
    testing::closeInjector(x);
}

}  // namespace
}  // namespace quorvel
