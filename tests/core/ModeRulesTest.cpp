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
    ConfigStore storeWith(std::vector<DictationMode> modes, std::string active = "") {
        ConfigStore store(AppPaths::configURL());
        AppConfig config;
        config.modes = std::move(modes);
        config.activeModeID = std::move(active);
        store.replace(config);
        return store;
    }
};

TEST_F(ModeRulesTest, ActiveModeFallsBackToFirstThenToAFreshMode) {
    AppConfig config;
    config.modes = {mode("A"), mode("B", false), mode("C")};
    config.activeModeID = config.modes[1].id;
    EXPECT_EQ(ModeRules::activeMode(config).name, "B") << "a disabled mode can still be active";
    config.activeModeID = "";
    EXPECT_EQ(ModeRules::activeMode(config).name, "A");
    config.activeModeID = uuid::generate();
    EXPECT_EQ(ModeRules::activeMode(config).name, "A");
    config.activeModeID = config.modes[2].id;
    for (char& c : config.activeModeID) c = static_cast<char>(std::tolower(c));
    EXPECT_EQ(ModeRules::activeMode(config).name, "A") << "identifiers compare case-sensitively";
    config.modes.clear();
    const DictationMode fresh = ModeRules::activeMode(config);
    EXPECT_EQ(fresh.name, "");
    EXPECT_TRUE(fresh.enabled);
}

TEST_F(ModeRulesTest, CyclingSkipsDisabledModesAndWraps) {
    auto store = storeWith({mode("A"), mode("B", false), mode("C")});
    const std::string a = store.config().modes[0].id;
    store.update([&](AppConfig& c) { c.activeModeID = a; });
    EXPECT_EQ(ModeRules::cycleMode(store)->name, "C");
    EXPECT_EQ(ModeRules::activeMode(store.config()).name, "C");
    EXPECT_EQ(ModeRules::cycleMode(store)->name, "A");
    EXPECT_EQ(ConfigStore(AppPaths::configURL()).config().activeModeID, a) << "saved";
}

TEST_F(ModeRulesTest, CyclingFromNoActiveModeStartsAtTheFirstEnabled) {
    auto store = storeWith({mode("A"), mode("B"), mode("C")});
    EXPECT_EQ(ModeRules::cycleMode(store)->name, "B");
    auto disabledFirst = storeWith({mode("X", false), mode("Y"), mode("Z")});
    EXPECT_EQ(ModeRules::cycleMode(disabledFirst)->name, "Z");
}

TEST_F(ModeRulesTest, CyclingWithOneEnabledModeChangesAndSavesNothing) {
    auto store = storeWith({mode("A"), mode("B", false)});
    const auto before = readFile(AppPaths::configURL());
    std::filesystem::remove(AppPaths::configURL());
    EXPECT_FALSE(ModeRules::cycleMode(store));
    EXPECT_EQ(store.config().activeModeID, "");
    EXPECT_FALSE(std::filesystem::exists(AppPaths::configURL()));
}

TEST_F(ModeRulesTest, FrontApplicationCheck) {
    DictationMode m = mode("Код");
    EXPECT_TRUE(ModeRules::modeAllowedHere(m, "Anything"));
    m.activateApps = {"Code"};
    EXPECT_TRUE(ModeRules::modeAllowedHere(m, "Visual Studio CODE"));
    EXPECT_TRUE(ModeRules::modeAllowedHere(m, "code"));
    EXPECT_FALSE(ModeRules::modeAllowedHere(m, "Firefox"));
    EXPECT_TRUE(ModeRules::modeAllowedHere(m, std::nullopt)) << "no front application";
    EXPECT_TRUE(ModeRules::modeAllowedHere(m, ""));
    m.activateApps = {"Терминал", "slack"};
    EXPECT_TRUE(ModeRules::modeAllowedHere(m, "ТЕРМИНАЛ"));
    EXPECT_TRUE(ModeRules::modeAllowedHere(m, "Slack"));
    EXPECT_EQ(ModeRules::notAllowedNotice(m), "⚠️ Режим «Код» не активен в этом приложении");
}

}  // namespace
}  // namespace quorvel
