#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/ModelCatalog.h"
#include "core/WorkerPrefs.h"
#include "support/ModelFixtures.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

// Every catalog id, in catalog order.
const std::vector<std::string> everything = {"gigaam-v2-ru", "parakeet-v3-en", "whisper-large-v3-turbo",
                                             "whisper-small-multi", "pocketsphinx-en-us"};

class ModelCatalogTest : public testing::TempHome {
  protected:
    fs::path systemDir() const { return home() / "system-share" / "en-us"; }
    ModelCatalog catalog() const { return ModelCatalog(systemDir()); }

    // An unknown id throws, which fails the test.
    static STTModel entry(const std::string& id) { return ModelCatalog::model(id).value(); }
    // A copy of the model that counts as installed, in `base` (the models folder by default).
    fs::path install(const std::string& id, fs::path dir = {}) const {
        if (dir.empty()) dir = AppPaths::modelsDir() / entry(id).dirName;
        for (const std::string& file : entry(id).files) writeFile(dir / file, testing::modelFileContent(file));
        return dir;
    }
};

TEST_F(ModelCatalogTest, EveryEntryIsUsableAndFoundByItsId) {
    // The order is the fallback order when the chosen model is unknown (see the choice cases).
    std::vector<std::string> ids;
    for (const STTModel& model : ModelCatalog::all()) {
        SCOPED_TRACE(model.id);
        ids.push_back(model.id);
        EXPECT_TRUE(ModelCatalog::isSafeDirName(model.dirName));
        EXPECT_FALSE(model.files.empty());
        EXPECT_EQ(model.downloadURL.value_or("https://").rfind("https://", 0), 0u);
        // The store unpacks an archive expecting the model's folder at its top.
        EXPECT_TRUE(!model.isArchive() || model.downloadURL->ends_with("/" + model.dirName + ".tar.bz2"));
        EXPECT_EQ(ModelCatalog::model(model.id), model);
    }
    EXPECT_EQ(ids, everything);
    EXPECT_FALSE(ModelCatalog::model("no-such-model"));
    EXPECT_FALSE(ModelCatalog::model(""));
    // A folder name must name one folder inside the models folder.
    for (const char* good : {"a.b", ".hidden"}) EXPECT_TRUE(ModelCatalog::isSafeDirName(good)) << good;
    for (const char* bad : {"", ".", "..", "a/b", "/abs", "../up"})
        EXPECT_FALSE(ModelCatalog::isSafeDirName(bad)) << bad;
}

TEST_F(ModelCatalogTest, FindsAModelInTheModelsFolderBeforeTheLegacyFolder) {
    const STTModel giga = entry("gigaam-v2-ru");
    const ModelCatalog models = catalog();
    EXPECT_FALSE(models.directory(giga));
    EXPECT_FALSE(models.isDownloaded(giga));

    const fs::path legacy = install("gigaam-v2-ru", home() / "quorvel" / "models" / giga.dirName);
    EXPECT_EQ(models.directory(giga), legacy);
    EXPECT_TRUE(models.isDownloaded(giga));

    const fs::path own = install("gigaam-v2-ru");
    EXPECT_EQ(models.directory(giga), own);
    fs::remove(own / "joiner.onnx");
    EXPECT_EQ(models.directory(giga), legacy) << "a broken copy is passed over";

    // A folder name that leads out of the models folder is never followed, whatever lies there.
    STTModel escaping = giga;
    escaping.dirName = "..";
    install("gigaam-v2-ru", AppPaths::modelsDir().parent_path());
    EXPECT_FALSE(models.directory(escaping));
}

// Ways a copy in the models folder can be broken or planted; none of them counts as installed.
// (Error pages and files cut short are the download tests' rows: the same checks judge both.)
struct SpoiledCopy {
    const char* name;
    const char* model;
    void (*spoil)(const fs::path& dir, const fs::path& goodCopyElsewhere);
};

void PrintTo(const SpoiledCopy& c, std::ostream* out) { *out << c.name; }

void replaceWith(const fs::path& file, const std::string& bytes) {
    fs::remove(file);
    std::ofstream(file, std::ios::binary) << bytes;
}
void linkTo(const fs::path& link, const fs::path& target) {
    fs::remove_all(link);
    fs::create_symlink(target, link);
}

const SpoiledCopy kSpoiled[] = {
    {"EncoderIsThousandsOfTinyFields", "gigaam-v2-ru",
     [](const fs::path& dir, const fs::path&) {
         std::string fields = testing::onnxModel();
         for (int i = 0; i < 2000; ++i) fields += testing::protobufField(14, "");
         replaceWith(dir / "encoder.int8.onnx", fields);
     }},
    {"DecoderIsEmpty", "gigaam-v2-ru", [](const fs::path& dir, const fs::path&) { replaceWith(dir / "decoder.onnx", ""); }},
    {"TokensCutMidLine", "gigaam-v2-ru", [](const fs::path& dir, const fs::path&) { replaceWith(dir / "tokens.txt", "<blk> 0\n\xe2\x96"); }},
    {"FileIsAFolder", "gigaam-v2-ru",
     [](const fs::path& dir, const fs::path&) {
         fs::remove(dir / "joiner.onnx");
         fs::create_directory(dir / "joiner.onnx");
     }},
    {"FileIsALinkToAGoodFile", "gigaam-v2-ru",
     [](const fs::path& dir, const fs::path& good) { linkTo(dir / "encoder.int8.onnx", good / "encoder.int8.onnx"); }},
    {"FolderIsALinkToAGoodCopy", "gigaam-v2-ru", [](const fs::path& dir, const fs::path& good) { linkTo(dir, good); }},
    {"SubfolderIsALinkToAGoodOne", "pocketsphinx-en-us",
     [](const fs::path& dir, const fs::path& good) { linkTo(dir / "en-us", good / "en-us"); }},
};

class SpoiledCopyTest : public ModelCatalogTest, public ::testing::WithParamInterface<SpoiledCopy> {};

TEST_P(SpoiledCopyTest, DoesNotCountAsInstalled) {
    const STTModel model = entry(GetParam().model);
    const fs::path dir = install(model.id);
    const fs::path elsewhere = install(model.id, home() / "elsewhere" / model.dirName);
    AppConfig config;
    config.sttModelID = model.id;
    config.modes.clear();
    ASSERT_EQ(workerPrefs(config, catalog()).value_or(WorkerPrefs{}).dir, dir.string());

    GetParam().spoil(dir, elsewhere);
    EXPECT_FALSE(catalog().isDownloaded(model));
    EXPECT_FALSE(workerPrefs(config, catalog())) << "the worker is never pointed at it";
    EXPECT_EQ(catalog().removableDirectory(model).value_or(fs::path()), model.removable ? dir : fs::path())
        << "a broken copy can still be removed";
}
INSTANTIATE_TEST_SUITE_P(Copies, SpoiledCopyTest, ::testing::ValuesIn(kSpoiled),
                         [](const ::testing::TestParamInfo<SpoiledCopy>& info) { return std::string(info.param.name); });

TEST_F(ModelCatalogTest, BuiltInModelIsFoundInTheSystemFolderAndInTheModelFolders) {
    const STTModel sphinx = entry("pocketsphinx-en-us");
    const ModelCatalog models = catalog();
    AppConfig config;
    config.sttModelID = "pocketsphinx-en-us";  // the built-in modes are on "auto"
    EXPECT_FALSE(models.isDownloaded(sphinx));
    EXPECT_FALSE(workerPrefs(config, models));

    fs::create_directories(systemDir());
    EXPECT_FALSE(models.isDownloaded(sphinx)) << "an empty folder is no model";
    install("pocketsphinx-en-us", systemDir());
    EXPECT_EQ(models.directory(sphinx), systemDir());
    const WorkerPrefs systemCopy{systemDir().string(), "pocketsphinx", "en"};
    EXPECT_EQ(workerPrefs(config, models), systemCopy);
    config.sttModelID = "retired-model";
    EXPECT_EQ(workerPrefs(config, models), systemCopy) << "the unknown-id fallback reaches the built-in model";

    // A copy in the user's models folder wins over the system one.
    const fs::path own = install("pocketsphinx-en-us");
    EXPECT_EQ(models.directory(sphinx), own);

    // Only built-in models are looked for in the system folder.
    EXPECT_FALSE(models.directory(entry("gigaam-v2-ru")));
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

// Test names then carry the case's name rather than its bytes (which hold addresses).
void PrintTo(const ChoiceCase& c, std::ostream* out) { *out << c.name; }

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

const std::vector<ChoiceCase> kChoices = {
    // name, language, mode's model, global model, installed, chosen, used
    {"ModeModelWins", "ru", "whisper-large-v3-turbo", "gigaam-v2-ru", everything, "whisper-large-v3-turbo",
     "whisper-large-v3-turbo"},
    {"RussianDefault", "ru", std::nullopt, "whisper-small-multi", everything, "gigaam-v2-ru", "gigaam-v2-ru"},
    {"EnglishDefault", "en", std::nullopt, "gigaam-v2-ru", everything, "parakeet-v3-en", "parakeet-v3-en"},
    {"AutoUsesGlobal", "auto", std::nullopt, "pocketsphinx-en-us", everything, "pocketsphinx-en-us",
     "pocketsphinx-en-us"},
    {"OtherLanguageUsesGlobal", "de", std::nullopt, "whisper-small-multi", everything, "whisper-small-multi",
     "whisper-small-multi"},
    {"EmptyModeModelCountsAsNone", "en", std::string(), "gigaam-v2-ru", everything, "parakeet-v3-en",
     "parakeet-v3-en"},
    {"KnownButMissingGivesNothing", "auto", std::nullopt, "whisper-small-multi", {"gigaam-v2-ru", "parakeet-v3-en"},
     "whisper-small-multi", std::nullopt},
    {"UnknownModeModelTakesFirstInstalled", "ru", "retired-model", "gigaam-v2-ru",
     {"pocketsphinx-en-us", "whisper-small-multi"}, "retired-model", "whisper-small-multi"},
    {"UnknownGlobalTakesFirstInstalled", "auto", std::nullopt, "", {"parakeet-v3-en", "gigaam-v2-ru"}, "",
     "gigaam-v2-ru"},
    {"UnknownWithNothingInstalled", "auto", std::nullopt, "retired-model", {}, "retired-model", std::nullopt},
};
INSTANTIATE_TEST_SUITE_P(Decisions, WorkerPrefsTest, ::testing::ValuesIn(kChoices),
                         [](const ::testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
