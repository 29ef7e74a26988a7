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

    const auto keys = L10n::keys();
    ASSERT_EQ(keys.size(), 84u);
    EXPECT_EQ(keys.front(), "home");
    EXPECT_EQ(keys[8], "soon");
    EXPECT_EQ(keys.back(), "favorites_only");
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), 84u);
    for (const auto& key : keys)
        for (const char* language : {"ru", "en"})
            EXPECT_FALSE(L10n::text(key, language).value_or("").empty()) << key << " " << language;
    const std::tuple<const char*, const char*, const char*> samples[] = {
        {"processed", "Обработано", "AI Processed"},
        {"hold_shift_send", "Shift+вставка = отправка (Return)", "Hold shift to auto-send"},
        {"activate_apps_hint", "Пусто — везде. Имена приложений через запятую.",
         "Empty = everywhere. App names, comma separated."},
        {"no_recordings", "Записей пока нет — нажмите хоткей и начните диктовать.",
         "No recordings yet — press the hotkey and start dictating."},
        {"favorites_only", "Только избранные", "Favourites only"},
        {"modes", "Modes", "Modes"}, {"push_to_talk", "Push to Talk", "Push to Talk"}};
    for (const auto& [key, ru, en] : samples) {
        EXPECT_EQ(L10n::text(key, "ru"), ru);
        EXPECT_EQ(L10n::text(key, "en"), en);
    }
}

}  // namespace
}  // namespace quorvel
