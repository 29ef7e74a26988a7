// The models page over real stores in a temporary home: filters and favourites, a download from
// a real loopback server with the real curl (progress, cancel, failure), choosing the model the
// next dictation uses, removal, and the speech-runtime notice installing a stand-in wheel with
// the real python3, venv and pip.
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <tuple>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/L10n.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "core/WorkerPrefs.h"
#include "services/ModelStore.h"
#include "services/RuntimeInstaller.h"
#include "support/LoopbackHttpServer.h"
#include "support/ModelFixtures.h"
#include "support/SettingsTestBase.h"
#include "support/StandInWheel.h"
#include "ui/settings/ModelRow.h"
#include "ui/settings/ModelsPage.h"
#include "ui/settings/RuntimeCard.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::HttpResponse;

class ModelsPageTest : public testing::SettingsTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.isListening());
        SettingsTest::SetUp();
        page = std::make_unique<ModelsPage>(*model);
    }
    void TearDown() override {
        page.reset();
        SettingsTest::TearDown();
    }
    std::unique_ptr<ModelStore> makeModelStore() override {
        ModelStore::Options options;
        options.mirror = QString::fromStdString(server.url(""));
        options.retries = 0;
        return std::make_unique<ModelStore>(ModelCatalog(home() / "system" / "en-us"), options);
    }

    ModelRow* row(const std::string& id) const {
        return page->findChild<ModelRow*>(QString::fromStdString("modelRow_" + id));
    }
    template <typename Widget = QPushButton>
    Widget* control(const std::string& id, const char* name) const {
        return row(id)->findChild<Widget*>(name);
    }
    QString state(const std::string& id) const { return control<QLabel>(id, "state")->text(); }
    // The rows a person sees, top to bottom (all rows sit in one list).
    std::vector<std::string> shownRows() const {
        std::vector<std::string> ids;
        for (const QBoxLayout* list :
             row("gigaam-v2-ru")->parentWidget()->findChildren<QBoxLayout*>())
            for (int i = 0; i < list->count(); ++i)
                if (auto* shown = qobject_cast<ModelRow*>(list->itemAt(i)->widget()))
                    if (!shown->isHidden()) ids.push_back(shown->entry().id);
        return ids;
    }

    testing::LoopbackHttpServer server;
    std::unique_ptr<ModelsPage> page;
};

TEST_F(ModelsPageTest, SearchSortAndFavouritesPickTheRows) {
    const std::string giga = "gigaam-v2-ru", parakeet = "parakeet-v3-en",
                      sphinx = "pocketsphinx-en-us", large = "whisper-large-v3-turbo",
                      small = "whisper-small-multi";
    const STTModel builtIn = *ModelCatalog::model(sphinx);
    for (const std::string& file : builtIn.files)
        writeFile(home() / "system" / "en-us" / file, testing::modelFileContent(file));
    page->pageShown();
    EXPECT_EQ(state(giga), "не скачана");
    EXPECT_EQ(state(sphinx), "скачана");
    EXPECT_TRUE(control(sphinx, "delete")->isHidden()) << "built in, not removable";
    EXPECT_FALSE(control(parakeet, "download")->isEnabled()) << "no download URL";

    // Stars write the favourites, one save each.
    for (const std::string& id : {small, giga, small, large})
        control<QToolButton>(id, "favoriteModels")->click();
    EXPECT_EQ(config->config().favoriteModels, (std::vector{giga, large}));
    EXPECT_EQ(actions.configChanges, 4);

    auto* search = page->findChild<QLineEdit*>("search");
    auto* sort = page->findChild<QComboBox*>("sort_by");
    auto* favourites = page->findChild<QCheckBox*>("favorites_only");
    // The search text, the sort (Имя, Тип, Размер), favourites only, and the rows shown.
    const std::vector<std::tuple<QString, int, bool, std::vector<std::string>>> cases = {
        {"", 0, false, {giga, parakeet, sphinx, large, small}},
        {"", 2, false, {sphinx, parakeet, giga, small, large}},
        {"english", 0, false, {parakeet, sphinx}},
        {"no such model", 0, false, {}},
        {"", 2, true, {giga, large}},
    };
    for (const auto& [text, order, favouritesOnly, shown] : cases) {
        SCOPED_TRACE(text.toStdString() + " sort " + std::to_string(order));
        search->setText(text);
        sort->setCurrentIndex(order);
        favourites->setChecked(favouritesOnly);
        EXPECT_EQ(shownRows(), shown);
        EXPECT_EQ(page->findChild<QLabel*>("nothingFound")->isHidden(), !shown.empty());
    }
    // Taking the star away under the favourites filter (the last case) takes the row away.
    control<QToolButton>(giga, "favoriteModels")->click();
    EXPECT_EQ(shownRows(), std::vector{large});
}

TEST_F(ModelsPageTest, DownloadShowsProgressCancelsFailsInstallsAndIsSelectedAndRemoved) {
    const STTModel giga = *ModelCatalog::model("gigaam-v2-ru");
    // The file's answer: its content, or this status, or none at all.
    const auto serve = [&](const std::string& file, int status = 200, bool hang = false) {
        HttpResponse response;
        response.status = status;
        response.hang = hang;
        response.body = file == "encoder.int8.onnx" ? testing::onnxModel(3 << 20)
                                                    : testing::modelFileContent(file);
        server.serve(
            QUrl(QString::fromStdString(*giga.downloadURL + "/" + file)).path().toStdString(),
            response);
    };
    for (const std::string& file : giga.files) serve(file);
    serve("decoder.onnx", 200, true);
    auto* progress = control<QProgressBar>(giga.id, "progress");

    control(giga.id, "download")->click();
    EXPECT_FALSE(progress->isHidden());
    EXPECT_FALSE(control(giga.id, "cancel")->isHidden());
    const QString arrived = "3 из 245 МБ · 1%";
    ASSERT_TRUE(QTest::qWaitFor([&] { return progress->format().startsWith(arrived); }, 20000))
        << progress->format().toStdString();
    {
        ModelsPage rebuilt(*model);  // the window builds its pages anew on a language switch
        auto* again = rebuilt.findChild<ModelRow*>(row(giga.id)->objectName());
        EXPECT_TRUE(again->findChild<QProgressBar*>("progress")->format().startsWith(arrived));
    }
    control(giga.id, "cancel")->click();
    EXPECT_TRUE(progress->isHidden());
    EXPECT_FALSE(control(giga.id, "download")->isHidden());
    EXPECT_EQ(state(giga.id), "не скачана");
    EXPECT_TRUE(fs::is_empty(AppPaths::modelsDir())) << "what arrived is gone";
    EXPECT_TRUE(control<QLabel>(giga.id, "failure")->isHidden()) << "a cancel is no failure";

    serve("decoder.onnx", 404);
    control(giga.id, "download")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !models->isDownloading(giga.id); }, 20000));
    EXPECT_FALSE(control<QLabel>(giga.id, "failure")->isHidden());

    serve("decoder.onnx");
    control(giga.id, "download")->click();
    EXPECT_TRUE(control<QLabel>(giga.id, "failure")->isHidden())
        << "a new try clears the old reason";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !models->isDownloading(giga.id); }, 20000));
    EXPECT_EQ(state(giga.id), "активна") << "the configuration's model from the start";
    EXPECT_TRUE(progress->isHidden());
    EXPECT_FALSE(control(giga.id, "delete")->isHidden());

    // "Select" makes the next dictation use the model, also when the active mode's language
    // implies one or the mode names its own (the mode then names this one).
    using Model = std::optional<std::string>;
    for (const auto& [language, ownModel, modeModelAfter] :
         {std::tuple<std::string, Model, Model>{"auto", {}, {}}, {"en", {}, giga.id},
          {"auto", "whisper-small-multi", giga.id}}) {
        SCOPED_TRACE(language + " " + ownModel.value_or("global"));
        model->editConfig([&, language = language, own = ownModel](AppConfig& edited) {
            edited.sttModelID = "whisper-small-multi";
            edited.activeModeID = edited.modes[1].id;
            edited.modes[1].language = language;
            edited.modes[1].sttModelID = own;
        });
        EXPECT_EQ(state(giga.id), "скачана");
        const int changesBefore = actions.configChanges;
        control(giga.id, "sttModelID")->click();
        EXPECT_EQ(actions.configChanges, changesBefore + 1);
        EXPECT_EQ(chosenModelID(config->config()), giga.id);
        EXPECT_EQ(config->config().modes[1].sttModelID, modeModelAfter);
        EXPECT_EQ(state(giga.id), "активна");
    }

    // Removal asks first; "Cancel" keeps the model.
    for (QMessageBox::StandardButton answer : {QMessageBox::Cancel, QMessageBox::Yes}) {
        control(giga.id, "delete")->click();
        auto* question = row(giga.id)->findChild<QMessageBox*>("confirmDelete");
        ASSERT_NE(question, nullptr);
        question->button(answer)->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_FALSE(fs::exists(AppPaths::modelsDir() / giga.dirName));
    EXPECT_EQ(state(giga.id), "не скачана");
}

TEST_F(ModelsPageTest, RuntimeNoticeInstallsTheRuntime) {
    const fs::path wheels = home() / "wheels";
    ASSERT_TRUE(testing::makeStandInWheel(wheels));
    const std::string missingPython = (home() / "no-python" / "python3").string();
    model->editConfig([&](AppConfig& edited) { edited.pythonPath = missingPython; });
    RuntimeInstaller::Options options;
    options.extraPipArguments = testing::offlinePipArguments(wheels);
    options.environment = testing::isolatedPipEnvironment();
    model->runtime().setOptions(options);

    page->pageShown();
    auto* notice = page->findChild<RuntimeCard*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notice->isHidden(); }, 30000));
    page->findChild<QPushButton*>("installRuntime")->click();
    const std::string venvPython = (AppPaths::supportDir() / "runtime" / "bin" / "python").string();
    ASSERT_TRUE(QTest::qWaitFor([&] { return config->config().pythonPath == venvPython; }, 180000))
        << page->findChild<QLabel*>("runtimeResult")->text().toStdString();
    EXPECT_EQ(actions.workerRestarts, 1);
}

}  // namespace
}  // namespace quorvel
