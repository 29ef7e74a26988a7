// The configuration and sound pages against real stores in a temporary home: every bound control
// writes its own field (and no other) with one save and one notice, mirrored controls follow each
// other, and hot keys are captured as the global listener will report them.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <optional>
#include <set>

#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "platform/SoundPlayer.h"
#include "services/ModelStore.h"
#include "support/SettingsTestBase.h"
#include "ui/SettingsControls.h"
#include "ui/settings/ConfigurationPage.h"
#include "ui/settings/KeyCapture.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/ShortcutRow.h"
#include "ui/settings/SoundPage.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kCtrlL = 37, kShiftL = 50, kSuperR = 134;
constexpr unsigned kEsc = 9, kF5 = 71, kF6 = 72;

using testing::sendXKey;

class ConfigurationSoundTest : public testing::SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        configuration = std::make_unique<ConfigurationPage>(*model);
        sound = std::make_unique<SoundPage>(*model);
    }
    void TearDown() override {
        sound.reset();
        configuration.reset();
        SettingsTest::TearDown();
    }

    template <typename T>
    T* control(const char* name) const {
        for (QWidget* page : pages())
            if (auto* found = page->findChild<T*>(QString::fromLatin1(name))) return found;
        ADD_FAILURE() << "no control " << name;
        return nullptr;
    }

    // Answers the folder dialog the "Сменить…" button opens, once it is up.
    static void chooseFolderWhenAsked(const fs::path& folder) {
        QTimer::singleShot(0, [folder] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialog->setDirectory(QString::fromStdString(folder.parent_path().string()));
            dialog->selectFile(QString::fromStdString(folder.string()));
            static_cast<QDialog*>(dialog)->accept();
        });
    }

    QList<QWidget*> pages() const { return {configuration.get(), sound.get()}; }

    std::unique_ptr<ConfigurationPage> configuration;
    std::unique_ptr<SoundPage> sound;
};

TEST_F(ConfigurationSoundTest, EveryBoundControlWritesOnlyItsFieldWithOneSaveAndOneNotice) {
    const fs::path folder = home() / "elsewhere";
    fs::create_directories(folder);
    struct Row {
        const char* name;
        QVariant input;
        json::Json expected;  // the field's JSON value afterwards; null = absent
    };
    const std::vector<Row> rows = {
        {"theme:light", {}, "light"},
        {"overlayStyle:mini", {}, "mini"},
        {"overlayAlwaysShow", {}, true},
        {"overlayFollowCursor", {}, true},
        {"keyToggle",
         kCtrlL,
         {{"keyCode", 59}, {"modifiers", KeyCombo::maskCtrl}, {"deviceBit", 1}}},
        {"keyCancel", kF5, {{"keyCode", 96}, {"modifiers", 0}, {"deviceBit", 0}}},
        {"keyMode", kF6, {{"keyCode", 97}, {"modifiers", 0}, {"deviceBit", 0}}},
        {"modeHoldEnabled", {}, false},
        {"modeTapEnabled", {}, false},
        {"checkUpdatesAuto", {}, true},
        {"keepRecordings", QStringLiteral("7d"), "7d"},
        {"uiLanguage", QStringLiteral("en"), "en"},
        {"silenceRemoval", {}, false},
        {"dynamicNormalization", {}, false},
        {"punctModelID", QStringLiteral("  qwen3:4b "), "qwen3:4b"},
        {"punctRestore", {}, false},
        {"restoreClipboard", true, true},
        {"pasteResultText", {}, false},
        {"holdShiftToSend", {}, true},
        {"simulateKeypresses", {}, true},
        {"showDockIcon", {}, false},
        {"startRecordingOnMenubarClick", {}, true},
        {"closeAfterTranscription", {}, true},
        {"maxRecordSeconds", 12, 120.0},
        {"recordingsFolder", QString::fromStdString(folder.string()), folder.string()},
        {"recordingsFolder:default", {}, nullptr},
        {"soundProfile", QStringLiteral("simple"), "simple"},
        {"soundVolume", 35, 0.35},
        {"soundWhileRecording", QStringLiteral("tick"), "tick"},
        {"soundRecord", {}, false},
        {"soundPaste", {}, true},
    };

    // The table covers every field a control on either page edits (a control's name is its
    // field's, then a choice after ':' or its page after '@'; actions edit none).
    const auto field = [](const QString& name) {
        return name.section(':', 0, 0).section('@', 0, 0).toStdString();
    };
    std::set<std::string> edited, covered;
    for (QWidget* page : pages())
        for (QWidget* widget : page->findChildren<QWidget*>()) {
            const QString name = widget->objectName();
            const bool isControl =
                qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
                qobject_cast<QSlider*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                qobject_cast<ShortcutRow*>(widget);
            if (isControl && !name.isEmpty() && !name.startsWith("action:"))
                edited.insert(field(name));
        }
    for (const Row& row : rows) covered.insert(field(row.name));
    EXPECT_EQ(edited, covered);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string key = field(row.name);
        json::Json before = model->config().toJson();
        const int notices = actions.configChanges;
        QWidget* widget = control<QWidget>(row.name);
        if (qobject_cast<QPushButton*>(widget) && row.input.isValid())
            chooseFolderWhenAsked(row.input.toString().toStdString());
        testing::operate(widget, row.input);
        json::Json after = model->config().toJson();
        EXPECT_EQ(actions.configChanges, notices + 1);
        EXPECT_EQ(after.contains(key) ? after[key] : json::Json(), row.expected);
        before.erase(key);
        after.erase(key);
        EXPECT_EQ(after, before) << "another field changed too";
        EXPECT_EQ(ConfigStore(AppPaths::configURL()).config(), model->config())
            << "the file does not hold the edit";
    }
}

TEST_F(ConfigurationSoundTest, ControlsFollowEditsMadeElsewhere) {
    auto* normalization = control<QCheckBox>("dynamicNormalization");
    auto* mic = control<QCheckBox>("dynamicNormalization@sound");
    ASSERT_TRUE(normalization->isChecked() && mic->isChecked());
    mic->click();
    EXPECT_FALSE(normalization->isChecked());
    normalization->click();
    EXPECT_TRUE(mic->isChecked());
    EXPECT_EQ(actions.configChanges, 2) << "a mirrored toggle must not write back";

    auto* punctModel = control<QLineEdit>("punctModelID");
    control<QCheckBox>("punctRestore")->click();
    EXPECT_FALSE(punctModel->isEnabled());

    model->editConfig([](AppConfig& c) {
        c.theme = "dark";
        c.soundVolume = 0.29;
        c.maxRecordSeconds = 1000;
        c.keyMode = KeyCombo{96, 0, 0};
        c.recordingsFolder = "/srv/dictations";
    });
    EXPECT_TRUE(control<QToolButton>("theme:dark")->isChecked());
    EXPECT_EQ(control<QSlider>("soundVolume")->value(), 29);
    // Off the slider's scale: the slider at its end, nothing written.
    EXPECT_EQ(control<QSlider>("maxRecordSeconds")->value(), 60);
    EXPECT_EQ(control<ShortcutRow>("keyMode")->captureButton()->text(), QStringLiteral("F5"));
    EXPECT_TRUE(control<QPushButton>("recordingsFolder:default")->isEnabled());
    EXPECT_EQ(actions.configChanges, 4);
}

TEST_F(ConfigurationSoundTest, ActionsReachTheProgramNotTheConfiguration) {
    std::vector<SoundPlayer::Kind> played;
    SoundPlayer::setOutput([&](const SoundPlayer::Cue& cue) { played.push_back(cue.kind); });
    control<QPushButton>("action:test_start")->click();
    control<QPushButton>("action:test_stop")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return played.size() == 2; }, 5000));
    SoundPlayer::setOutput({});
    EXPECT_EQ(played, (std::vector{SoundPlayer::Kind::recordStart, SoundPlayer::Kind::recordStop}));

    control<QCheckBox>("action:launch_on_login")->click();
    EXPECT_TRUE(actions.loginEntry);
    control<QPushButton>("action:check_updates")->click();
    EXPECT_EQ(control<QLabel>("updatesResult")->text().toStdString(), actions.checkForUpdates());
    EXPECT_EQ(actions.configChanges, 0);
}

// Capturing and removing are the bound-control and mode tables'; here a capture that ends
// without a choice, and the reset to the default.
TEST_F(ConfigurationSoundTest, ShortcutRowCancelsAndResets) {
    ShortcutRow* row = control<ShortcutRow>("keyToggle");
    EXPECT_FALSE(row->resetButton()->isEnabled());
    // Modifiers pressed and let go without a key are no choice; Esc alone ends the capture.
    row->captureButton()->click();
    sendXKey(row->captureButton(), QEvent::KeyPress, kShiftL);
    sendXKey(row->captureButton(), QEvent::KeyPress, kSuperR, KeyCapture::xShift);
    sendXKey(row->captureButton(), QEvent::KeyRelease, kSuperR);
    sendXKey(row->captureButton(), QEvent::KeyRelease, kShiftL);
    EXPECT_TRUE(row->isCapturing());
    sendXKey(row->captureButton(), QEvent::KeyPress, kEsc);
    EXPECT_FALSE(row->isCapturing());
    EXPECT_EQ(row->captureButton()->text(), QStringLiteral("правый Super"));
    EXPECT_EQ(actions.configChanges, 0);

    testing::operate(row, kF5);
    row->resetButton()->click();
    EXPECT_EQ(model->config().keyToggle, KeyCombo::defaultToggle);
    EXPECT_FALSE(row->resetButton()->isEnabled());
}

}  // namespace
}  // namespace quorvel
