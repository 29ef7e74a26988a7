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
#include <fstream>
#include <optional>
#include <set>
#include <variant>

#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/StatsStore.h"
#include "core/VocabStore.h"
#include "platform/SoundPlayer.h"
#include "services/ModelStore.h"
#include "support/SettingsTestBase.h"
#include "ui/UiTexts.h"
#include "ui/settings/ConfigurationPage.h"
#include "ui/settings/KeyCapture.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/ShortcutRow.h"
#include "ui/settings/SoundPage.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

constexpr unsigned kCtrlL = 37, kCtrlR = 105, kShiftL = 50, kAltL = 64, kSuperL = 133, kSuperR = 134;
constexpr unsigned kEsc = 9, kF5 = 71, kF6 = 72, kK = 45;

void sendKey(QWidget* target, QEvent::Type type, unsigned xKeycode, unsigned xState = 0) {
    QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, xKeycode, 0, xState);
    QApplication::sendEvent(target, &event);
}

void tap(ShortcutRow* row, unsigned xKeycode) {
    row->captureButton()->click();
    sendKey(row->captureButton(), QEvent::KeyPress, xKeycode);
    sendKey(row->captureButton(), QEvent::KeyRelease, xKeycode);
}

class ConfigurationSoundTest : public testing::SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        configPath = AppPaths::configURL();
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
        for (QWidget* page : {static_cast<QWidget*>(configuration.get()), static_cast<QWidget*>(sound.get())})
            if (auto* found = page->findChild<T*>(QString::fromLatin1(name))) return found;
        ADD_FAILURE() << "no control " << name;
        return nullptr;
    }

    // Answers the folder dialog the "Сменить…" button opens, once it is up.
    void chooseFolderWhenAsked(const fs::path& folder) {
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, folder] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll->deleteLater();
            dialog->setDirectory(QString::fromStdString(folder.parent_path().string()));
            dialog->selectFile(QString::fromStdString(folder.string()));
            static_cast<QDialog*>(dialog)->accept();
        });
        poll->start(10);
    }

    fs::path configPath;
    std::unique_ptr<ConfigurationPage> configuration;
    std::unique_ptr<SoundPage> sound;
};

// What a row does to its control: click it, pick the item with this data, move the slider to this
// position, type this text, capture this key (pressed and released), or choose this folder.
struct Click {};
struct Pick { QVariant data; };
struct Slide { int position; };
struct Type { QString text; };
struct Key { unsigned xKeycode; };
struct Folder {};
using Action = std::variant<Click, Pick, Slide, Type, Key, Folder>;

struct Row {
    const char* name;
    Action action;
    json::Json expected;  // the field's JSON value afterwards; null = absent
};

TEST_F(ConfigurationSoundTest, EveryBoundControlWritesOnlyItsFieldWithOneSaveAndOneNotice) {
    const fs::path folder = home() / "elsewhere";
    fs::create_directories(folder);
    const std::vector<Row> rows = {
        {"theme:light", Click{}, "light"},
        {"theme:dark", Click{}, "dark"},
        {"theme:auto", Click{}, "auto"},
        {"overlayStyle:mini", Click{}, "mini"},
        {"overlayStyle:none", Click{}, "none"},
        {"overlayStyle:classic", Click{}, "classic"},
        {"overlayAlwaysShow", Click{}, true},
        {"overlayFollowCursor", Click{}, true},
        {"keyToggle", Key{kCtrlL}, {{"keyCode", 59}, {"modifiers", KeyCombo::maskCtrl}, {"deviceBit", 1}}},
        {"keyCancel", Key{kF5}, {{"keyCode", 96}, {"modifiers", 0}, {"deviceBit", 0}}},
        {"keyMode", Key{kF6}, {{"keyCode", 97}, {"modifiers", 0}, {"deviceBit", 0}}},
        {"modeHoldEnabled", Click{}, false},
        {"modeTapEnabled", Click{}, false},
        {"checkUpdatesAuto", Click{}, true},
        {"keepRecordings", Pick{QStringLiteral("7d")}, "7d"},
        {"uiLanguage", Pick{QStringLiteral("en")}, "en"},
        {"silenceRemoval", Click{}, false},
        {"dynamicNormalization", Click{}, false},
        {"punctModelID", Type{QStringLiteral("  qwen3:4b ")}, "qwen3:4b"},
        {"punctRestore", Click{}, false},
        {"restoreClipboard", Pick{true}, true},
        {"pasteResultText", Click{}, false},
        {"holdShiftToSend", Click{}, true},
        {"simulateKeypresses", Click{}, true},
        {"showDockIcon", Click{}, false},
        {"startRecordingOnMenubarClick", Click{}, true},
        {"closeAfterTranscription", Click{}, true},
        {"maxRecordSeconds", Slide{12}, 120.0},
        {"recordingsFolder", Folder{}, folder.string()},
        {"recordingsFolder:default", Click{}, nullptr},
        {"soundProfile", Pick{QStringLiteral("simple")}, "simple"},
        {"soundVolume", Slide{35}, 0.35},
        {"soundWhileRecording", Pick{QStringLiteral("tick")}, "tick"},
        {"soundRecord", Click{}, false},
        {"soundPaste", Click{}, true},
        {"dynamicNormalization@sound", Click{}, true},
    };

    // The table covers every control that edits the configuration, on both pages.
    std::set<std::string> named, covered;
    for (QWidget* page : {static_cast<QWidget*>(configuration.get()), static_cast<QWidget*>(sound.get())})
        for (QWidget* widget : page->findChildren<QWidget*>()) {
            const QString name = widget->objectName();
            const bool isControl = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
                                   qobject_cast<QSlider*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                                   qobject_cast<ShortcutRow*>(widget);
            if (isControl && !name.isEmpty() && !name.startsWith(QLatin1String("action:")) &&
                !name.startsWith(QLatin1String("qt_")))
                named.insert(name.toStdString());
        }
    for (const Row& row : rows) covered.insert(row.name);
    EXPECT_EQ(named, covered);

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string name = row.name;
        const std::string key = name.substr(0, name.find_first_of(":@"));
        const json::Json before = model->config().toJson();
        const int notices = actions.configChanges;
        std::visit(
            [&](const auto& action) {
                using A = std::decay_t<decltype(action)>;
                if constexpr (std::is_same_v<A, Click>) {
                    control<QAbstractButton>(row.name)->click();
                } else if constexpr (std::is_same_v<A, Pick>) {
                    auto* combo = control<QComboBox>(row.name);
                    const int index = combo->findData(action.data);
                    combo->setCurrentIndex(index);
                    Q_EMIT combo->activated(index);
                } else if constexpr (std::is_same_v<A, Slide>) {
                    control<QSlider>(row.name)->setValue(action.position);
                } else if constexpr (std::is_same_v<A, Type>) {
                    auto* edit = control<QLineEdit>(row.name);
                    edit->setText(action.text);
                    Q_EMIT edit->editingFinished();
                } else if constexpr (std::is_same_v<A, Key>) {
                    tap(control<ShortcutRow>(row.name), action.xKeycode);
                } else {
                    chooseFolderWhenAsked(row.expected.template get<std::string>());
                    control<QAbstractButton>(row.name)->click();
                }
            },
            row.action);

        json::Json after = model->config().toJson();
        EXPECT_EQ(actions.configChanges, notices + 1);
        EXPECT_EQ(after.contains(key) ? after[key] : json::Json(), row.expected);
        json::Json othersBefore = before, othersAfter = after;
        othersBefore.erase(key);
        othersAfter.erase(key);
        EXPECT_EQ(othersAfter, othersBefore) << "another field changed too";
        std::ifstream file(configPath);
        const std::string saved((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(AppConfig::decode(saved), model->config()) << "the file does not hold the edit";
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
    EXPECT_TRUE(punctModel->isEnabled());
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
    EXPECT_FALSE(control<QToolButton>("theme:auto")->isChecked());
    EXPECT_EQ(control<QSlider>("soundVolume")->value(), 29);
    const auto labels = [](QWidget* page) {
        QStringList texts;
        for (auto* label : page->findChildren<QLabel*>()) texts << label->text();
        return texts;
    };
    EXPECT_TRUE(labels(sound.get()).contains(QStringLiteral("Громкость: 29%")));
    // Off the slider's scale: shown as stored, the slider at its end, nothing written.
    EXPECT_TRUE(labels(configuration.get()).contains(QStringLiteral("Активность модели: 1000 с")));
    EXPECT_EQ(control<QSlider>("maxRecordSeconds")->value(), 60);
    EXPECT_EQ(control<ShortcutRow>("keyMode")->captureButton()->text(), QStringLiteral("F5"));
    EXPECT_TRUE(labels(configuration.get()).contains(QStringLiteral("/srv/dictations")));
    EXPECT_EQ(actions.configChanges, 4);

    control<QPushButton>("recordingsFolder:default")->click();
    EXPECT_TRUE(labels(configuration.get()).contains(QStringLiteral("по умолчанию")));
    EXPECT_FALSE(control<QPushButton>("recordingsFolder:default")->isEnabled());
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
    EXPECT_EQ(configuration->findChild<QLabel*>(QStringLiteral("updatesResult"))->text(),
              QStringLiteral("Установлена последняя версия"));
    EXPECT_EQ(actions.configChanges, 0);
}

// Key sequences of a capture: each step presses (or releases) one X keycode with the X state.
struct Step {
    bool press;
    unsigned xKeycode;
    unsigned xState = 0;
};
struct CaptureRow {
    const char* what;
    std::vector<Step> steps;
    KeyCapture::Outcome outcome;
    KeyCombo combo;
    const char* label;
};

// F5, Esc and right Super alone are captured in the shortcut row's test below; these are the
// combinations a row must store with the sides and masks the listener reports.
TEST(KeyCaptureTest, CapturedCombinations) {
    using O = KeyCapture::Outcome;
    constexpr unsigned ctrl = KeyCapture::xControl, alt = KeyCapture::xAlt, super = KeyCapture::xSuper;
    const std::vector<CaptureRow> rows = {
        {"left Control alone", {{true, kCtrlL}, {false, kCtrlL}}, O::captured,
         {59, KeyCombo::maskCtrl, KeyCombo::sideLeftCtrl}, "левый Ctrl"},
        {"Ctrl+Esc", {{true, kCtrlL}, {true, kEsc, ctrl}}, O::captured, {53, KeyCombo::maskCtrl, 0}, "Ctrl+Esc"},
        {"right Ctrl+K keeps the right Control bit", {{true, kCtrlR}, {true, kK, ctrl}}, O::captured,
         {40, KeyCombo::maskCtrl | KeyCombo::sideRightCtrl, 0}, "Ctrl+K"},
        {"Alt+Super+K is the default mode key", {{true, kAltL}, {true, kSuperL, alt}, {true, kK, alt | super}},
         O::captured, KeyCombo::defaultMode, "Alt+Super+K"},
        {"two modifiers without a key wait", {{true, kShiftL}, {true, kSuperR, KeyCapture::xShift}, {false, kSuperR},
                                              {false, kShiftL}},
         O::waiting, {}, ""},
    };
    for (const CaptureRow& row : rows) {
        SCOPED_TRACE(row.what);
        KeyCapture capture;
        KeyCapture::Result result;
        for (const Step& step : row.steps)
            result = step.press ? capture.press(step.xKeycode, step.xState) : capture.release(step.xKeycode);
        EXPECT_EQ(result.outcome, row.outcome);
        if (row.outcome != O::captured) continue;
        EXPECT_EQ(result.combo, row.combo);
        EXPECT_EQ(UiTexts::keyLabel(result.combo), QString::fromUtf8(row.label));
    }
}

TEST_F(ConfigurationSoundTest, ShortcutRowCapturesResetsAndRemoves) {
    std::vector<std::optional<KeyCombo>> chosen;
    ShortcutRow row(QStringLiteral("Toggle Recording"), KeyCombo::defaultToggle, {KeyCombo::defaultToggle, false});
    row.onChanged = [&](const std::optional<KeyCombo>& combo) { chosen.push_back(combo); };
    EXPECT_EQ(row.captureButton()->text(), QStringLiteral("правый Super"));
    EXPECT_FALSE(row.resetButton()->isEnabled());

    row.captureButton()->click();
    EXPECT_EQ(row.captureButton()->text(), QStringLiteral("Нажмите клавиши… (Esc — отмена)"));
    sendKey(row.captureButton(), QEvent::KeyPress, kEsc);
    EXPECT_FALSE(row.isCapturing());
    EXPECT_EQ(row.captureButton()->text(), QStringLiteral("правый Super"));
    EXPECT_TRUE(chosen.empty());

    tap(&row, kF5);
    EXPECT_EQ(chosen, (std::vector<std::optional<KeyCombo>>{KeyCombo{96, 0, 0}}));
    EXPECT_EQ(row.captureButton()->text(), QStringLiteral("F5"));
    EXPECT_FALSE(row.isCapturing());
    row.resetButton()->click();
    EXPECT_EQ(chosen.back(), KeyCombo::defaultToggle);
    EXPECT_FALSE(row.resetButton()->isEnabled());

    ShortcutRow optional(QStringLiteral("Хоткей записи режима"), std::nullopt, {std::nullopt, true});
    optional.onChanged = [&](const std::optional<KeyCombo>& combo) { chosen.push_back(combo); };
    EXPECT_EQ(optional.captureButton()->text(), QStringLiteral("Задать"));
    EXPECT_TRUE(optional.removeButton()->isHidden());
    tap(&optional, kSuperR);
    EXPECT_EQ(optional.captureButton()->text(), QStringLiteral("правый Super"));
    EXPECT_FALSE(optional.removeButton()->isHidden());
    optional.removeButton()->click();
    EXPECT_EQ(chosen.back(), std::nullopt);
    EXPECT_EQ(optional.captureButton()->text(), QStringLiteral("Задать"));
}

}  // namespace
}  // namespace quorvel
