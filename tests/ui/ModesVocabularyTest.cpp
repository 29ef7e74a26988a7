// The modes page, the mode detail and the vocabulary page over real stores in a temporary home:
// every edit must land in the right mode, in the file, with exactly one save and one notice.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstring>
#include <functional>
#include <tuple>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/L10n.h"
#include "core/ModelCatalog.h"
#include "core/StatsStore.h"
#include "core/Uuid.h"
#include "core/VocabStore.h"
#include "services/ModelStore.h"
#include "support/SettingsTestBase.h"
#include "ui/SettingsControls.h"
#include "ui/settings/ModeDetailView.h"
#include "ui/settings/ModesPage.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/ShortcutRow.h"
#include "ui/settings/VocabularyPage.h"

namespace quorvel {
namespace {

class ModesVocabularyTest : public testing::SettingsTest {
  protected:
    // What the configuration file holds now.
    static AppConfig saved() { return ConfigStore(AppPaths::configURL()).config(); }

    template <typename T>
    static T* find(QWidget& root, const char* name) {
        T* found = root.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // Answers the next message box with `button` once it is up.
    static void answerNextMessageBox(QMessageBox::StandardButton button) {
        QTimer::singleShot(0, [button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_LT(box->sizeHint().width(), 1000) << "fits on the screen";
            box->button(button)->click();
        });
    }
};

TEST_F(ModesVocabularyTest, CreatedModeHasTheDefaultsAndDeletingTheActiveModeAsksThenFallsBack) {
    ModesPage page(*model);
    auto* list = find<QListWidget>(page, "modesList");
    find<QPushButton>(page, "createMode")->click();
    AppConfig before = saved();
    ASSERT_EQ(before.modes.size(), 4u);
    DictationMode defaults;
    defaults.id = before.modes.back().id;
    defaults.name = "Новый режим";
    EXPECT_TRUE(uuid::canonical(defaults.id));
    EXPECT_EQ(before.modes.back(), defaults);
    EXPECT_EQ(actions.configChanges, 1);
    EXPECT_EQ(list->count(), 4);
    ASSERT_NE(page.detail(), nullptr);
    EXPECT_EQ(page.detail()->modeId(), defaults.id);

    // A name of ten thousand letters (typed or in a hand-edited file) is cut in the title and the
    // question instead of widening them far past the window.
    model->editConfig([](AppConfig& c) {
        c.activeModeID = c.modes[1].id;
        c.modes[1].name = std::string(10'000, 'N');
    });
    before = model->config();
    page.openMode(before.modes[1].id);
    page.resize(620, 580);
    page.show();
    QApplication::processEvents();
    auto* scroll = page.detail()->findChild<QScrollArea*>();
    EXPECT_LE(scroll->widget()->width(), scroll->viewport()->width());

    // Deleting the active mode asks first; then the first mode is the active one.
    auto* remove = find<QPushButton>(*page.detail(), "deleteMode");
    actions.configChanges = 0;
    answerNextMessageBox(QMessageBox::Cancel);
    remove->click();
    EXPECT_EQ(saved(), before);
    EXPECT_EQ(actions.configChanges, 0);
    answerNextMessageBox(QMessageBox::Yes);
    remove->click();
    const AppConfig after = saved();
    ASSERT_EQ(after.modes.size(), 3u);
    EXPECT_EQ(after.modes[0], before.modes[0]);
    EXPECT_EQ(after.modes[1], before.modes[2]);
    EXPECT_EQ(after.activeModeID, before.modes[0].id);
    EXPECT_EQ(actions.configChanges, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return page.detail() == nullptr; }));
    EXPECT_EQ(list->count(), 3);
}

// Each control of the detail writes its own field of the mode it shows, and nothing else.
TEST_F(ModesVocabularyTest, EveryDetailControlWritesItsModeFieldWithOneSave) {
    model->editConfig([](AppConfig& c) {
        c.modes[1].shortcut = KeyCombo::defaultMode;
        c.modes[1].llmModel = "qwen3.5:2b";
    });
    ModeDetailView view(*model, model->config().modes[1].id);
    const STTModel& catalogModel = ModelCatalog::all().front();
    using M = DictationMode;
    const QString catalogName = QString::fromStdString(catalogModel.name);
    // The control (its name before any space), what is typed or picked, and the edit of the mode
    // it makes (none: nothing may change).
    const std::vector<std::tuple<std::string, QString, std::function<void(M&)>>> rows = {
        {"name", "  Letters ", [](M& m) { m.name = "Letters"; }},
        {"name emptied", "", {}},
        {"prompt", "Be brief.", [](M& m) { m.prompt = "Be brief."; }},
        {"preset", "Свой (prompt)", [](M& m) { m.preset = "custom"; }},
        {"language", "English", [](M& m) { m.language = "en"; }},
        {"language again", "English", {}},
        {"translateTo", "На русский", [](M& m) { m.translateTo = "ru"; }},
        {"sttModelID", catalogName, [&](M& m) { m.sttModelID = catalogModel.id; }},
        {"sttModelID global", "Глобальная", [](M& m) { m.sttModelID.reset(); }},
        {"llmModel global", "Глобальная (ollama)", [](M& m) { m.llmModel.reset(); }},
        {"activateApps", "kate,  vim ,,",
         [](M& m) {
             m.activateApps = {"kate", "vim"};
         }},
        {"autoPaste", "Выкл", [](M& m) { m.autoPaste = "off"; }},
        {"soundWhileRecordingMode", "Тик каждые 5 с",
         [](M& m) { m.soundWhileRecordingMode = "tick"; }},
        {"autocapitalize", "", [](M& m) { m.autocapitalize = false; }},
        {"modeShortcutRow", "", [](M& m) { m.shortcut.reset(); }},
    };
    for (const auto& [control, input, expect] : rows) {
        SCOPED_TRACE(control);
        AppConfig expected = model->config();
        if (expect) expect(expected.modes[1]);
        actions.configChanges = 0;
        testing::operate(find<QWidget>(view, control.substr(0, control.find(' ')).c_str()), input);
        EXPECT_EQ(saved(), expected);
        EXPECT_EQ(actions.configChanges, expect ? 1 : 0);
    }
    EXPECT_EQ(find<QLineEdit>(view, "activateApps")->text(), "kate, vim");
    EXPECT_FALSE(find<ShortcutRow>(view, "modeShortcutRow")->combo().has_value());
}

TEST_F(ModesVocabularyTest, VocabularyAddsRemovesAndImportsCsv) {
    VocabularyPage page(*model);
    page.resize(820, 580);
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    auto* list = find<QListView>(page, "vocabList");
    auto* wrong = find<QLineEdit>(page, "addWord");
    auto* right = find<QLineEdit>(page, "replaceWith");
    const auto savedPairs = [] { return VocabStore(AppPaths::vocabURL()).pairs(); };

    // Ctrl+Return adds from either field (plain Return in the first only moves on); the same
    // phrase again replaces its rule; an empty replacement is a rule.
    for (const auto& [phrase, replacement] :
         {std::pair{"gpt", "GPT"}, {"gpt", "ChatGPT"}, {"umm", ""}}) {
        wrong->setText(QString::fromLatin1(phrase));
        right->setText(QString::fromLatin1(replacement));
        wrong->setFocus();
        QTest::keyClick(wrong, Qt::Key_Return, Qt::ControlModifier);
    }
    EXPECT_EQ(savedPairs(), (VocabStore::Pairs{{"gpt", "ChatGPT"}, {"umm", ""}}));
    EXPECT_TRUE(wrong->text().isEmpty());
    ASSERT_EQ(list->model()->rowCount(), 2);

    // The remove button at the end of the row, then Delete on the selected row.
    QApplication::processEvents();
    const QRect gptRow = list->visualRect(list->model()->index(0, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(gptRow.right() - 19, gptRow.center().y()));
    EXPECT_EQ(savedPairs(), (VocabStore::Pairs{{"umm", ""}}));
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_TRUE(savedPairs().empty());

    // The core's import rules apply (tested there): a header is a rule, existing phrases stay.
    model->setVocab({{"гпт", "GPT"}});
    const auto csv =
        writeFile(home() / "words.csv", "wrong;right\nгпт;chat\n\xc2\xa0кубер ; Kubernetes\r\n");
    page.importCsvFile(QString::fromStdString(csv.string()));
    EXPECT_EQ(savedPairs(),
              (VocabStore::Pairs{{"гпт", "GPT"}, {"wrong", "right"}, {"кубер", "Kubernetes"}}));
    EXPECT_EQ(list->model()->rowCount(), 3);

    // Files that are not text are refused with their name, and add nothing.
    for (const std::string& bytes :
         {std::string("a;b\n\xff\xfe;c\n"), std::string("a\0b;c\nd;e\n", 11)}) {
        page.importCsvFile(
            QString::fromStdString(writeFile(home() / "binary.csv", bytes).string()));
        EXPECT_TRUE(find<QLabel>(page, "importResult")->text().contains("binary.csv"));
    }
    page.importCsvFile(QStringLiteral("/dev/zero"));  // no size, no end
    EXPECT_TRUE(find<QLabel>(page, "importResult")->text().contains("MB"));
    page.importCsvFile(QString::fromStdString((home() / "missing.csv").string()));
    EXPECT_TRUE(find<QLabel>(page, "importResult")->text().contains("missing.csv"));
    EXPECT_EQ(savedPairs().size(), 3u);
}

}  // namespace
}  // namespace quorvel
