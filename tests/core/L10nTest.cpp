#include <gtest/gtest.h>

#include <set>

#include "core/L10n.h"

namespace quorvel {
namespace {

class L10nTest : public ::testing::Test {
protected:
    void TearDown() override { L10n::setLanguage("ru"); }
};

TEST_F(L10nTest, TableHasAllEntriesInBothLanguagesWithRussianAndKeyFallbacks) {
    EXPECT_EQ(L10n::language(), "ru");
    EXPECT_EQ(L10n::t("home"), "Домой");
    L10n::setLanguage("en");
    EXPECT_EQ(L10n::t("home"), "Home");
    EXPECT_EQ(L10n::t("no_such_key"), "no_such_key");
    L10n::setLanguage("fr");
    EXPECT_EQ(L10n::t("replace_with"), "Заменить на…");
    EXPECT_FALSE(L10n::text("home", "de"));

    // Every key has its text in both languages, and no key stands twice.
    const auto keys = L10n::keys();
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), 84u);
    for (const auto& key : keys)
        for (const char* language : {"ru", "en"})
            EXPECT_FALSE(L10n::text(key, language).value_or("").empty()) << key << " " << language;
    EXPECT_EQ(L10n::text("hold_shift_send", "ru"), "Shift+вставка = отправка (Return)");
    EXPECT_EQ(L10n::text("hold_shift_send", "en"), "Hold shift to auto-send");
}

}  // namespace
}  // namespace quorvel
