#include <set>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using testing::TempHome;

class ConfigStoreTest : public TempHome {
  protected:
    std::filesystem::path configFile() const { return AppPaths::configURL(); }
    void writeConfig(std::string_view text) const { writeFile(configFile(), text); }
    void writeLegacy(std::string_view text) const {
        writeFile(AppPaths::legacyDir() / "config.json", text);
    }
    // Compares two configurations apart from the random identifiers of their modes.
    static void expectSameSettings(AppConfig a, const AppConfig& b) {
        ASSERT_EQ(a.modes.size(), b.modes.size());
        for (size_t i = 0; i < a.modes.size(); ++i) a.modes[i].id = b.modes[i].id;
        EXPECT_EQ(a, b);
    }
};

TEST_F(ConfigStoreTest, DefaultsMatchTheTable) {
    const AppConfig c;
    EXPECT_TRUE(c.modeTapEnabled && c.modeHoldEnabled && c.soundRecord && !c.soundPaste);
    EXPECT_EQ(c.overlayStyle, "classic");
    EXPECT_EQ(c.maxRecordSeconds, 60);
    EXPECT_EQ(c.ollamaURL, "http://127.0.0.1:11434/api/generate");
    EXPECT_EQ(c.ollamaModel, "qwen3.6:27b");
    EXPECT_EQ(c.keyToggle, KeyCombo::defaultToggle);
    EXPECT_EQ(c.keyMode, KeyCombo::defaultMode);
    EXPECT_EQ(c.soundVolume, 0.8);
    EXPECT_EQ(c.sttModelID, "gigaam-v2-ru");
    EXPECT_EQ(c.punctModelID, "qwen2.5:1.5b-instruct");
    EXPECT_EQ(c.typedWPM, 40);
    EXPECT_FALSE(c.recordingsFolder || c.overlayPosX || c.pillPosY);
    ASSERT_EQ(c.modes.size(), 3u);
    EXPECT_EQ(c.modes[0].name, "По умолчанию");
    EXPECT_EQ(c.modes[1].prompt, "Перепиши в деловом стиле, сохрани смысл:");
    EXPECT_EQ(c.modes[2].name, "Код-комментарий");
    const std::set<std::string> ids{c.modes[0].id, c.modes[1].id, c.modes[2].id,
                                    AppConfig().modes[0].id};
    EXPECT_EQ(ids.size(), 4u) << "every new record gets new mode identifiers";
}

TEST_F(ConfigStoreTest, EncodesAllKeysInCodingOrderAndOptionalsOnlyWhenSet) {
    AppConfig c;
    auto keysOf = [](const AppConfig& config) {
        std::vector<std::string> keys;
        const json::Json encoded = config.toJson();
        for (const auto& item : encoded.items()) keys.push_back(item.key());
        return keys;
    };
    auto keys = keysOf(c);
    EXPECT_EQ(keys.size(), 42u);
    EXPECT_EQ(keys[15], "showDockIcon");
    EXPECT_EQ(keys[16], "modes");
    EXPECT_EQ(keys.back(), "favoriteModels");
    c.overlayPosX = 120.5;
    c.recordingsFolder = "/data/rec";
    c.pillPosX = 1;
    c.pillPosY = 2;
    c.overlayPosY = 3;
    keys = keysOf(c);
    ASSERT_EQ(keys.size(), 47u);
    EXPECT_EQ(keys[18], "overlayPosX");
    EXPECT_EQ(keys[46], "pillPosY");
    EXPECT_EQ(c.toJson()["overlayPosX"].get<double>(), 120.5);
    EXPECT_EQ(c.encode()->find('\n'), std::string::npos) << "compact JSON";
}

TEST_F(ConfigStoreTest, DecodingRules) {
    auto decoded = AppConfig::decode("{}");
    ASSERT_TRUE(decoded);
    expectSameSettings(*decoded, AppConfig());

    decoded = AppConfig::decode(
        R"({"modes":[],"maxRecordSeconds":null,"unknownKey":[1,2],"theme":"dark"})");
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->modes.empty());
    EXPECT_EQ(decoded->maxRecordSeconds, 60);
    EXPECT_EQ(decoded->theme, "dark");

    decoded = AppConfig::decode(R"({"maxRecordSeconds":90,"modes":[{"name":"Solo"}]})");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->maxRecordSeconds, 90);
    ASSERT_EQ(decoded->modes.size(), 1u);
    const DictationMode& solo = decoded->modes[0];
    EXPECT_EQ(solo.name, "Solo");
    EXPECT_TRUE(solo.enabled && solo.autocapitalize);
    EXPECT_EQ(solo.translateTo, "off");
    EXPECT_EQ(solo.preset, "default");
    EXPECT_EQ(solo.language, "auto");
    EXPECT_EQ(solo.autoPaste, "default");
    EXPECT_EQ(solo.soundWhileRecordingMode, "inherit");

    const char* undecodable[] = {R"({"maxRecordSeconds":"90"})",
                                 R"({"soundRecord":1})",
                                 R"({"keyToggle":{"keyCode":55,"modifiers":1048576}})",
                                 R"({"modes":[{"enabled":"yes"}]})",
                                 R"({"modes":[{"id":"not-a-uuid"}]})",
                                 R"({"favoriteModels":["a",2]})",
                                 R"({"modes":{}})",
                                 R"([])",
                                 R"({"overlayPosX":"1"})",
                                 "not json",
                                 "{\"theme\":\"\xFF\"}"};
    for (const char* text : undecodable) EXPECT_FALSE(AppConfig::decode(text)) << text;
}

TEST_F(ConfigStoreTest, RoundTripKeepsEveryValue) {
    AppConfig c;
    c.activeModeID = c.modes[1].id;
    c.modes[2].sttModelID = "parakeet-v3-en";
    c.modes[2].shortcut = KeyCombo{18, KeyCombo::maskCtrl, 0};
    c.modes[2].activateApps = {"Slack", "Терминал"};
    c.keyToggle = KeyCombo{60, KeyCombo::maskShift, 0x4};
    c.overlayPosY = -12.25;
    c.favoriteModels = {"a", "b"};
    c.recordingsFolder = "/tmp/записи";
    const auto decoded = AppConfig::decode(*c.encode());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, c);
}

TEST_F(ConfigStoreTest, MissingFilesGiveDefaultsAndWriteNothing) {
    ConfigStore store(configFile());
    expectSameSettings(store.config(), AppConfig());
    EXPECT_FALSE(std::filesystem::exists(configFile()));
    store.update([](AppConfig& c) { c.theme = "light"; });
    EXPECT_EQ(ConfigStore(configFile()).config().theme, "light");
}

TEST_F(ConfigStoreTest, WrongTypeFallsBackToDefaultsAndLeavesTheFileAlone) {
    writeConfig(R"({"maxRecordSeconds":"90","theme":"dark"})");
    ConfigStore store(configFile());
    EXPECT_EQ(store.config().maxRecordSeconds, 60);
    EXPECT_EQ(store.config().theme, "auto");
    EXPECT_EQ(readFile(configFile()), R"({"maxRecordSeconds":"90","theme":"dark"})");
}

TEST_F(ConfigStoreTest, LegacyImportHappensOnce) {
    writeLegacy(R"({"ollama_url":"http://10.0.0.2:11434/api/generate","mode_tap_enabled":false,)"
                R"("sound_paste":"yes","ollama_model":7,"translate_default":true})");
    {
        ConfigStore store(configFile());
        EXPECT_EQ(store.config().ollamaURL, "http://10.0.0.2:11434/api/generate");
        EXPECT_FALSE(store.config().modeTapEnabled);
        EXPECT_FALSE(store.config().soundPaste) << "a string is not a Bool";
        EXPECT_EQ(store.config().ollamaModel, "qwen3.6:27b");
        EXPECT_TRUE(store.config().translateDefault);
        EXPECT_TRUE(store.config().modeHoldEnabled);
        ASSERT_TRUE(std::filesystem::exists(configFile()));
    }
    writeLegacy(R"({"ollama_url":"http://changed"})");
    ConfigStore again(configFile());
    EXPECT_EQ(again.config().ollamaURL, "http://10.0.0.2:11434/api/generate");
}

TEST_F(ConfigStoreTest, BrokenLegacyFileImportsNothing) {
    for (const char* legacy : {"[1,2]", "{not json", ""}) {
        writeLegacy(legacy);
        ConfigStore store(configFile());
        expectSameSettings(store.config(), AppConfig());
        EXPECT_FALSE(std::filesystem::exists(configFile())) << legacy;
    }
}

TEST_F(ConfigStoreTest, ModesKeepTheirIdentityAcrossSaves) {
    ConfigStore store(configFile());
    store.replace(AppConfig());
    const auto ids = store.config().modes;
    ConfigStore reloaded(configFile());
    EXPECT_EQ(reloaded.config().modes, ids);
}

TEST_F(ConfigStoreTest, FailedSaveKeepsValuesInMemoryAndTheOldFile) {
    ConfigStore store(configFile());
    store.update([](AppConfig& c) { c.theme = "dark"; });
    const std::string before = readFile(configFile());
    std::filesystem::permissions(
        configFile().parent_path(),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    store.update([](AppConfig& c) { c.theme = "light"; });
    std::filesystem::permissions(configFile().parent_path(), std::filesystem::perms::owner_all);
    EXPECT_EQ(store.config().theme, "light");
    if (::geteuid() != 0) {  // root ignores permissions
        EXPECT_EQ(readFile(configFile()), before);
    }
}

}  // namespace
}  // namespace quorvel
