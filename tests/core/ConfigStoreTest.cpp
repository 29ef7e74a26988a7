#include <set>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "support/CoreLogCapture.h"
#include "support/FileSizeLimit.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using testing::TempHome;

class ConfigStoreTest : public TempHome {
  protected:
    std::filesystem::path configFile() const { return AppPaths::configURL(); }
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

TEST_F(ConfigStoreTest, EncodesAllKeysInCodingOrderOptionalsOnlyWhenSetAndRoundTrips) {
    AppConfig c;
    const auto keysOf = [&] {
        std::vector<std::string> keys;
        const json::Json encoded = c.toJson();
        for (const auto& item : encoded.items()) keys.push_back(item.key());
        return keys;
    };
    // The five optional keys appear only once set.
    EXPECT_EQ(keysOf().size(), 42u);
    c.overlayPosX = 120.5;
    c.recordingsFolder = "/tmp/записи";
    c.pillPosX = 1;
    c.pillPosY = 2;
    c.overlayPosY = -12.25;
    EXPECT_EQ(keysOf().size(), 47u);
    EXPECT_EQ(c.encode()->find('\n'), std::string::npos) << "compact JSON";

    c.activeModeID = c.modes[1].id;
    c.modes[2].sttModelID = "parakeet-v3-en";
    c.modes[2].shortcut = KeyCombo{18, KeyCombo::maskCtrl, 0};
    c.modes[2].activateApps = {"Slack", "Терминал"};
    c.keyToggle = KeyCombo{60, KeyCombo::maskShift, 0x4};
    c.favoriteModels = {"a", "b"};
    const auto decoded = AppConfig::decode(*c.encode());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, c);
    // Every new record gets three modes with identifiers of their own.
    ASSERT_EQ(c.modes.size(), 3u);
    const std::set<std::string> ids{c.modes[0].id, c.modes[1].id, c.modes[2].id,
                                    AppConfig().modes[0].id};
    EXPECT_EQ(ids.size(), 4u);
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
    DictationMode solo;
    solo.name = "Solo";
    solo.id = decoded->modes[0].id;
    EXPECT_EQ(decoded->modes[0], solo) << "missing mode keys take the defaults";

    const char* undecodable[] = {
        R"({"maxRecordSeconds":"90"})", R"({"soundRecord":1})",
        R"({"keyToggle":{"keyCode":55,"modifiers":1048576}})", R"({"modes":[{"enabled":"yes"}]})",
        R"({"modes":[{"id":"not-a-uuid"}]})", R"({"favoriteModels":["a",2]})", R"({"modes":{}})",
        R"([])", R"({"overlayPosX":"1"})", "not json", "{\"theme\":\"\xFF\"}"};
    for (const char* text : undecodable) EXPECT_FALSE(AppConfig::decode(text)) << text;
}

TEST_F(ConfigStoreTest, MissingOrUnreadableFilesGiveDefaultsAndWriteNothing) {
    for (const char* legacy : {"", "[1,2]", "{not json"}) {
        if (*legacy) writeLegacy(legacy);
        ConfigStore store(configFile());
        expectSameSettings(store.config(), AppConfig());
        EXPECT_FALSE(std::filesystem::exists(configFile())) << legacy;
    }
    // The next save replaces a file that does not decode with defaults; the user's bytes are
    // kept aside first, and an earlier kept copy is never written over.
    for (const char* wrongType : {R"({"maxRecordSeconds":"90","theme":"dark"})", R"({"theme":7})"}) {
        const testing::CoreLogCapture log;
        writeFile(configFile(), wrongType);
        ConfigStore store(configFile());
        expectSameSettings(store.config(), AppConfig());
        EXPECT_EQ(readFile(configFile()), wrongType);
        EXPECT_EQ(log.count(corelog::Level::Error, configFile().string()), 1u);
        store.update([](AppConfig& c) { c.theme = "light"; });
    }
    EXPECT_EQ(readFile(configFile().string() + ".unreadable"), R"({"maxRecordSeconds":"90","theme":"dark"})");
    EXPECT_EQ(readFile(configFile().string() + ".unreadable-2"), R"({"theme":7})");
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
    EXPECT_EQ(ConfigStore(configFile()).config().ollamaURL, "http://10.0.0.2:11434/api/generate");
}

TEST_F(ConfigStoreTest, ChangesAreSavedModesKeepTheirIdentityAndAFailedSaveKeepsTheOldFile) {
    ConfigStore store(configFile());
    store.update([](AppConfig& c) { c.theme = "dark"; });
    const ConfigStore reloaded(configFile());
    EXPECT_EQ(reloaded.config().theme, "dark");
    EXPECT_EQ(reloaded.config().modes, store.config().modes);
    const std::string before = readFile(configFile());
    {
        const testing::FileSizeLimit fullDisk(8);
        store.update([](AppConfig& c) { c.theme = "light"; });
    }
    EXPECT_EQ(store.config().theme, "light");
    EXPECT_EQ(readFile(configFile()), before);
}

}  // namespace
}  // namespace quorvel
