#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/ModelCatalog.h"
#include "core/WorkerPrefs.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

class ModelCatalogTest : public testing::TempHome {
  protected:
    fs::path systemDir() const { return home() / "system-share" / "en-us"; }
    ModelCatalog catalog() const { return ModelCatalog(systemDir()); }

    static STTModel entry(const std::string& id) {
        std::optional<STTModel> model = ModelCatalog::model(id);
        EXPECT_TRUE(model) << id;
        return model.value_or(STTModel{});
    }
    fs::path install(const std::string& id) const {
        fs::path dir = AppPaths::modelsDir() / entry(id).dirName;
        fs::create_directories(dir);
        return dir;
    }
};

TEST_F(ModelCatalogTest, ListsTheModelsInOrderWithTheirFamiliesAndDownloadKinds) {
    struct Row {
        const char* id;
        const char* type;
        const char* hint;
        bool removable;
        enum { none, files, archive } download;
    };
    const std::vector<Row> expected = {
        {"gigaam-v2-ru", "nemo", "ru", true, Row::files},
        {"parakeet-v3-en", "nemo", "en", false, Row::none},
        {"whisper-large-v3-turbo", "whisper", "ru", true, Row::files},
        {"whisper-small-multi", "whisper", "", true, Row::archive},
        {"pocketsphinx-en-us", "pocketsphinx", "en", false, Row::none},
    };
    const std::vector<STTModel>& all = ModelCatalog::all();
    ASSERT_EQ(all.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(all[i].id, expected[i].id);
        EXPECT_EQ(all[i].type, expected[i].type);
        EXPECT_EQ(all[i].languageHint, expected[i].hint);
        EXPECT_EQ(all[i].removable, expected[i].removable);
        EXPECT_EQ(all[i].downloadURL.has_value(), expected[i].download != Row::none);
        EXPECT_EQ(all[i].isArchive(), expected[i].download == Row::archive);
        EXPECT_TRUE(ModelCatalog::isSafeDirName(all[i].dirName));
        EXPECT_FALSE(all[i].files.empty());
        EXPECT_EQ(all[i].downloadURL.value_or("https://").rfind("https://", 0), 0u);
        EXPECT_EQ(ModelCatalog::model(all[i].id), all[i]);
    }
    EXPECT_FALSE(ModelCatalog::model("no-such-model"));
    EXPECT_FALSE(ModelCatalog::model(""));
}

TEST_F(ModelCatalogTest, FileListsMatchThePublishedFolders) {
    // What the worker loads from each folder; a wrong name here means a download that fetches
    // nothing usable (or fails on a missing file).
    using Files = std::vector<std::string>;
    EXPECT_EQ(entry("gigaam-v2-ru").files,
              (Files{"encoder.int8.onnx", "decoder.onnx", "joiner.onnx", "tokens.txt"}));
    EXPECT_EQ(entry("parakeet-v3-en").files,
              (Files{"encoder.int8.onnx", "decoder.int8.onnx", "joiner.int8.onnx", "tokens.txt"}));
    EXPECT_EQ(entry("whisper-small-multi").files,
              (Files{"small-encoder.int8.onnx", "small-decoder.int8.onnx", "small-tokens.txt"}));
    for (const std::string& file : entry("whisper-large-v3-turbo").files) {
        EXPECT_TRUE(file.ends_with("-encoder.int8.onnx") || file.ends_with("-decoder.int8.onnx") ||
                    file.ends_with("-tokens.txt"))
            << file;
    }
    const STTModel small = entry("whisper-small-multi");
    EXPECT_TRUE(small.downloadURL->ends_with("/" + small.dirName + ".tar.bz2"));
}

TEST_F(ModelCatalogTest, FindsAModelInTheModelsFolderBeforeTheLegacyFolder) {
    const STTModel giga = entry("gigaam-v2-ru");
    const ModelCatalog models = catalog();
    EXPECT_FALSE(models.directory(giga));
    EXPECT_FALSE(models.isDownloaded(giga));

    const fs::path legacy = home() / "quorvel" / "models" / giga.dirName;
    fs::create_directories(legacy);
    EXPECT_EQ(models.directory(giga), legacy);
    EXPECT_TRUE(models.isDownloaded(giga));

    const fs::path own = install("gigaam-v2-ru");
    EXPECT_EQ(own, home() / "quorvelkit" / "Models" / giga.dirName);
    EXPECT_EQ(models.directory(giga), own);

    // Any kind of entry counts; the content is never examined.
    const STTModel small = entry("whisper-small-multi");
    writeFile(AppPaths::modelsDir() / small.dirName, "not a folder");
    EXPECT_TRUE(models.isDownloaded(small));
}

TEST_F(ModelCatalogTest, BuiltInModelIsFoundInTheSystemFolderAndInTheModelFolders) {
    const STTModel sphinx = entry("pocketsphinx-en-us");
    const ModelCatalog models = catalog();
    EXPECT_FALSE(models.isDownloaded(sphinx));

    fs::create_directories(systemDir());
    EXPECT_EQ(models.directory(sphinx), systemDir());

    // A copy in the user's models folder wins over the system one.
    const fs::path own = install("pocketsphinx-en-us");
    EXPECT_EQ(models.directory(sphinx), own);

    // Only built-in models are looked for in the system folder.
    STTModel other = entry("gigaam-v2-ru");
    EXPECT_FALSE(models.directory(other));
}

TEST_F(ModelCatalogTest, DefaultSystemFolderHoldsWhatTheWorkerLoads) {
    const ModelCatalog models;
    if (!fs::exists(ModelCatalog::defaultSystemModelDir))
        GTEST_SKIP() << "pocketsphinx-en-us not installed";
    const STTModel sphinx = entry("pocketsphinx-en-us");
    ASSERT_EQ(models.directory(sphinx), fs::path(ModelCatalog::defaultSystemModelDir));
    for (const std::string& file : sphinx.files) {
        EXPECT_TRUE(fs::is_regular_file(fs::path(ModelCatalog::defaultSystemModelDir) / file))
            << file;
    }
}

TEST_F(ModelCatalogTest, OnlyRemovableCopiesInTheModelsFolderMayBeRemoved) {
    const ModelCatalog models = catalog();
    const STTModel giga = entry("gigaam-v2-ru");
    fs::create_directories(home() / "quorvel" / "models" / giga.dirName);
    EXPECT_FALSE(models.removableDirectory(giga)) << "a legacy copy is never removed";
    const fs::path own = install("gigaam-v2-ru");
    EXPECT_EQ(models.removableDirectory(giga), own);

    install("parakeet-v3-en");
    EXPECT_FALSE(models.removableDirectory(entry("parakeet-v3-en")));
    install("pocketsphinx-en-us");
    fs::create_directories(systemDir());
    EXPECT_FALSE(models.removableDirectory(entry("pocketsphinx-en-us")));
}

TEST_F(ModelCatalogTest, FolderNamesMustNameOneFolder) {
    for (const char* good : {"sherpa-onnx-whisper-small", "a.b", ".hidden"})
        EXPECT_TRUE(ModelCatalog::isSafeDirName(good)) << good;
    for (const char* bad : {"", ".", "..", "a/b", "/abs", "../up"})
        EXPECT_FALSE(ModelCatalog::isSafeDirName(bad)) << bad;

    // An entry with such a name is never found, so nothing outside the models folders is used.
    STTModel escaping = entry("gigaam-v2-ru");
    escaping.dirName = "..";
    fs::create_directories(AppPaths::modelsDir());
    EXPECT_FALSE(catalog().directory(escaping));
}

// ---------------------------------------------------------------- the worker's model choice

struct ChoiceCase {
    const char* name;
    const char* language;                  // the active mode's language
    std::optional<std::string> modeModel;  // the active mode's sttModelID
    std::string globalModel;               // the configuration's sttModelID
    std::vector<std::string> installed;    // ids installed in the models folder
    std::string chosen;                    // chosenModelID
    std::optional<std::string> used;       // the model workerPrefs describes, if any
};

class WorkerPrefsTest : public ModelCatalogTest,
                        public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(WorkerPrefsTest, FollowsTheModeThenTheLanguageThenTheGlobalModel) {
    const ChoiceCase& c = GetParam();
    AppConfig config;
    config.sttModelID = c.globalModel;
    config.modes[1].language = c.language;
    config.modes[1].sttModelID = c.modeModel;
    config.activeModeID = config.modes[1].id;
    config.modes[0].sttModelID = "whisper-small-multi";  // an inactive mode must not matter
    for (const std::string& id : c.installed) install(id);

    EXPECT_EQ(chosenModelID(config), c.chosen);
    EXPECT_EQ(chosenModelID(config.modes[1], config), c.chosen);

    const std::optional<WorkerPrefs> prefs = workerPrefs(config, catalog());
    if (!c.used) {
        EXPECT_FALSE(prefs) << prefs->dir;
        return;
    }
    const STTModel model = entry(*c.used);
    ASSERT_TRUE(prefs);
    EXPECT_EQ(*prefs, (WorkerPrefs{(AppPaths::modelsDir() / model.dirName).string(), model.type,
                                   model.languageHint}));
}

const std::vector<std::string> everything = {"gigaam-v2-ru", "parakeet-v3-en",
                                             "whisper-large-v3-turbo", "whisper-small-multi",
                                             "pocketsphinx-en-us"};

INSTANTIATE_TEST_SUITE_P(
    Decisions, WorkerPrefsTest,
    ::testing::Values(ChoiceCase{"ModeModelWins", "ru", "whisper-large-v3-turbo", "gigaam-v2-ru",
                                 everything, "whisper-large-v3-turbo", "whisper-large-v3-turbo"},
                      ChoiceCase{"RussianDefault", "ru", std::nullopt, "whisper-small-multi",
                                 everything, "gigaam-v2-ru", "gigaam-v2-ru"},
                      ChoiceCase{"EnglishDefault", "en", std::nullopt, "gigaam-v2-ru", everything,
                                 "parakeet-v3-en", "parakeet-v3-en"},
                      ChoiceCase{"AutoUsesGlobal", "auto", std::nullopt, "pocketsphinx-en-us",
                                 everything, "pocketsphinx-en-us", "pocketsphinx-en-us"},
                      ChoiceCase{"OtherLanguageUsesGlobal", "de", std::nullopt,
                                 "whisper-small-multi", everything, "whisper-small-multi",
                                 "whisper-small-multi"},
                      ChoiceCase{"EmptyModeModelCountsAsNone", "en", std::string(), "gigaam-v2-ru",
                                 everything, "parakeet-v3-en", "parakeet-v3-en"},
                      ChoiceCase{"KnownButMissingGivesNothing",
                                 "auto",
                                 std::nullopt,
                                 "whisper-small-multi",
                                 {"gigaam-v2-ru", "parakeet-v3-en"},
                                 "whisper-small-multi",
                                 std::nullopt},
                      ChoiceCase{"UnknownModeModelTakesFirstInstalled",
                                 "ru",
                                 "retired-model",
                                 "gigaam-v2-ru",
                                 {"pocketsphinx-en-us", "whisper-small-multi"},
                                 "retired-model",
                                 "whisper-small-multi"},
                      ChoiceCase{"UnknownGlobalTakesFirstInstalled",
                                 "auto",
                                 std::nullopt,
                                 "",
                                 {"parakeet-v3-en", "gigaam-v2-ru"},
                                 "",
                                 "gigaam-v2-ru"},
                      ChoiceCase{"UnknownWithNothingInstalled",
                                 "auto",
                                 std::nullopt,
                                 "retired-model",
                                 {},
                                 "retired-model",
                                 std::nullopt}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

TEST_F(ModelCatalogTest, WorkerPrefsUseTheSystemCopyOfTheBuiltInModel) {
    AppConfig config;
    config.sttModelID = "pocketsphinx-en-us";  // the built-in modes are on "auto"
    EXPECT_FALSE(workerPrefs(config, catalog()));
    fs::create_directories(systemDir());
    EXPECT_EQ(workerPrefs(config, catalog()),
              (WorkerPrefs{systemDir().string(), "pocketsphinx", "en"}));

    // The unknown-id fallback reaches the built-in model when nothing else is installed.
    config.sttModelID = "retired-model";
    EXPECT_EQ(workerPrefs(config, catalog()),
              (WorkerPrefs{systemDir().string(), "pocketsphinx", "en"}));
}

TEST_F(ModelCatalogTest, ActiveModeDecidesEvenWhenDisabledOrMissing) {
    AppConfig config;
    config.sttModelID = "whisper-large-v3-turbo";
    config.modes[2].language = "ru";
    config.modes[2].enabled = false;
    config.activeModeID = config.modes[2].id;
    EXPECT_EQ(chosenModelID(config), "gigaam-v2-ru");

    config.activeModeID = "7F0D2C1E-0000-4000-8000-000000000000";  // no such mode: the first one
    config.modes[0].language = "en";
    EXPECT_EQ(chosenModelID(config), "parakeet-v3-en");

    config.modes.clear();  // a fresh default mode is on "auto"
    EXPECT_EQ(chosenModelID(config), "whisper-large-v3-turbo");
}

}  // namespace
}  // namespace quorvel
