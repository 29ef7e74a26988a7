#include "core/AppPaths.h"
#include "core/ModeRules.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using testing::TempHome;

DictationMode mode(const char* name, bool enabled = true) {
    DictationMode m;
    m.name = name;
    m.enabled = enabled;
    return m;
}

class ModeRulesTest : public TempHome {
  protected:
    static ConfigStore storeWith(std::vector<DictationMode> modes) {
        ConfigStore store(AppPaths::configURL());
        AppConfig config;
        config.modes = std::move(modes);
        store.replace(config);
        return store;
    }
};

TEST_F(ModeRulesTest, ActiveModeFallsBackToFirstThenToAFreshMode) {
    AppConfig config;
    config.modes = {mode("A"), mode("B", false), mode("C")};
    config.activeModeID = config.modes[1].id;
    EXPECT_EQ(ModeRules::activeMode(config).name, "B") << "a disabled mode can still be active";
    std::string lowerC = config.modes[2].id;
    for (char& c : lowerC) c = static_cast<char>(std::tolower(c));
    // None, unknown, and an identifier in other letter case (they compare case-sensitively).
    for (const std::string& id : {std::string(), uuid::generate(), lowerC}) {
        config.activeModeID = id;
        EXPECT_EQ(ModeRules::activeMode(config).name, "A") << id;
    }
    config.modes.clear();
    const DictationMode fresh = ModeRules::activeMode(config);
    EXPECT_EQ(fresh.name, "");
    EXPECT_TRUE(fresh.enabled);
}

TEST_F(ModeRulesTest, CyclingSkipsDisabledModesWrapsAndSavesButNeedsTwoEnabledModes) {
    auto store = storeWith({mode("A"), mode("B", false), mode("C")});
    EXPECT_EQ(ModeRules::cycleMode(store)->name, "C") << "no active mode: from the first";
    EXPECT_EQ(ModeRules::activeMode(store.config()).name, "C");
    EXPECT_EQ(ModeRules::cycleMode(store)->name, "A");
    EXPECT_EQ(ConfigStore(AppPaths::configURL()).config().activeModeID,
              store.config().modes[0].id);
    auto disabledFirst = storeWith({mode("X", false), mode("Y"), mode("Z")});
    EXPECT_EQ(ModeRules::cycleMode(disabledFirst)->name, "Z");

    // With one enabled mode nothing changes and nothing is saved.
    auto single = storeWith({mode("A"), mode("B", false)});
    std::filesystem::remove(AppPaths::configURL());
    EXPECT_FALSE(ModeRules::cycleMode(single));
    EXPECT_EQ(single.config().activeModeID, "");
    EXPECT_FALSE(std::filesystem::exists(AppPaths::configURL()));
}

TEST_F(ModeRulesTest, FrontApplicationCheck) {
    DictationMode m = mode("Код");
    EXPECT_TRUE(ModeRules::modeAllowedHere(m, "Anything"));
    m.activateApps = {"Code", "Терминал"};
    const std::pair<std::optional<std::string>, bool> rows[] = {
        {"Visual Studio CODE", true}, {"code", true}, {"ТЕРМИНАЛ", true}, {"Firefox", false},
        {std::nullopt, true}, {"", true}};  // no front application
    for (const auto& [app, allowed] : rows)
        EXPECT_EQ(ModeRules::modeAllowedHere(m, app), allowed) << app.value_or("(none)");
    m.activateApps = {"slack"};
    EXPECT_TRUE(ModeRules::modeAllowedHere(m, "Slack"));
    EXPECT_EQ(ModeRules::notAllowedNotice(m), "⚠️ Режим «Код» не активен в этом приложении");
}

}  // namespace
}  // namespace quorvel
