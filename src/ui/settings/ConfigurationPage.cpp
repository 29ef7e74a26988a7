#include "ui/settings/ConfigurationPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>
#include <cmath>

#include "core/L10n.h"
#include "ui/settings/PreviewPictures.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/ShortcutRow.h"

namespace quorvel {
namespace {

QString l10n(const char* key) { return QString::fromStdString(L10n::t(key)); }

// A path that shortens in the middle instead of widening the page.
class PathLabel : public QLabel {
public:
    void setPath(const QString& path) {
        path_ = path;
        setToolTip(path);
        fit();
    }
    QSize minimumSizeHint() const override { return {60, QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(path_) + 4, QLabel::sizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        fit();
    }

private:
    void fit() { setText(isVisible() ? fontMetrics().elidedText(path_, Qt::ElideMiddle, width()) : path_); }
    QString path_;
};

QString recordSecondsCaption(double seconds) {
    return QStringLiteral("Активность модели: %1 с").arg(static_cast<long long>(seconds));
}

}  // namespace

ConfigurationPage::ConfigurationPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    QVBoxLayout* body = SettingsForm::pageBody(*this, l10n("configuration"));
    for (QWidget* section : {lookSection(), recordingWindowSection(), shortcutsSection(), applicationSection(),
                             audioSection(), textInputSection(), advancedSection()})
        body->addWidget(section);
    body->addStretch();
    connect(&model_, &SettingsModel::conflictsFound, this, &ConfigurationPage::showConflicts);
    connect(&model_, &SettingsModel::configEdited, this, &ConfigurationPage::showRecordingsFolder);
    showConflicts();
}

void ConfigurationPage::pageShown() { model_.findConflicts(); }

QString ConfigurationPage::conflictText(const std::vector<std::string>& names) {
    if (names.empty()) return {};
    QStringList list;
    for (const std::string& name : names) list << QString::fromStdString(name);
    return QStringLiteral("Запущены: ") + list.join(QStringLiteral(", ")) +
           QStringLiteral(" — возможен конфликт клавиш, смените кнопку.");
}

QWidget* ConfigurationPage::lookSection() {
    QVBoxLayout* content = nullptr;
    QFrame* card = SettingsForm::card(l10n("theme"), content);
    content->addWidget(SettingsForm::previews(model_, "theme", &AppConfig::theme,
                                              {{QStringLiteral("Авто"), "auto", PreviewPictures::theme("auto")},
                                               {QStringLiteral("Светлая"), "light", PreviewPictures::theme("light")},
                                               {QStringLiteral("Тёмная"), "dark", PreviewPictures::theme("dark")}}));
    return card;
}

QWidget* ConfigurationPage::recordingWindowSection() {
    QVBoxLayout* content = nullptr;
    QFrame* card = SettingsForm::card(l10n("recording_window"), content);
    content->addWidget(
        SettingsForm::previews(model_, "overlayStyle", &AppConfig::overlayStyle,
                               {{QStringLiteral("Классический"), "classic", PreviewPictures::overlay("classic")},
                                {QStringLiteral("Мини"), "mini", PreviewPictures::overlay("mini")},
                                {QStringLiteral("Выкл"), "none", PreviewPictures::overlay("none")}}));
    content->addWidget(SettingsForm::toggle(model_, l10n("always_show"), "overlayAlwaysShow", &AppConfig::overlayAlwaysShow));
    content->addWidget(SettingsForm::toggle(model_,
                                            QStringLiteral("Следовать за курсором (по умолчанию — закреплено справа вверху)"),
                                            "overlayFollowCursor", &AppConfig::overlayFollowCursor));
    return card;
}

QWidget* ConfigurationPage::shortcutsSection() {
    QVBoxLayout* content = nullptr;
    QFrame* card = SettingsForm::card(l10n("shortcuts"), content);
    content->addWidget(SettingsForm::shortcut(model_, QStringLiteral("Toggle Recording"), "keyToggle",
                                              &AppConfig::keyToggle, KeyCombo::defaultToggle));
    content->addWidget(SettingsForm::shortcut(model_, QStringLiteral("Cancel Recording"), "keyCancel",
                                              &AppConfig::keyCancel, KeyCombo::defaultCancel));
    content->addWidget(SettingsForm::shortcut(model_, QStringLiteral("Change Mode"), "keyMode", &AppConfig::keyMode,
                                              KeyCombo::defaultMode));
    content->addWidget(SettingsForm::toggle(model_, l10n("push_to_talk"), "modeHoldEnabled", &AppConfig::modeHoldEnabled));
    content->addWidget(
        SettingsForm::toggle(model_, QStringLiteral("Режим тапа (toggle)"), "modeTapEnabled", &AppConfig::modeTapEnabled));
    content->addWidget(SettingsForm::note(QStringLiteral(
        "Mouse shortcut: тап = toggle, удержание = push (настраивается в коде; клавишный PTT — выше).")));
    conflicts_ = new QLabel;
    conflicts_->setObjectName(QStringLiteral("conflicts"));
    conflicts_->setWordWrap(true);
    conflicts_->setStyleSheet(QStringLiteral("color: #d9822b;"));
    content->addWidget(conflicts_);
    return card;
}

QWidget* ConfigurationPage::applicationSection() {
    QVBoxLayout* content = nullptr;
    QFrame* card = SettingsForm::card(l10n("application"), content);
    auto* check = new QPushButton(l10n("check_updates"));
    check->setObjectName(QStringLiteral("action:check_updates"));
    auto* result = SettingsForm::note({});
    result->setObjectName(QStringLiteral("updatesResult"));
    result->setVisible(false);
    connect(check, &QPushButton::clicked, this, [this, result] {
        result->setText(QString::fromStdString(model_.actions().checkForUpdates()));
        result->setVisible(true);
    });
    auto* checkRow = new QHBoxLayout;
    checkRow->addWidget(check);
    checkRow->addWidget(result, 1);
    checkRow->addStretch();
    content->addLayout(checkRow);
    content->addWidget(SettingsForm::toggle(model_, QStringLiteral("Автоматически проверять (локальный манифест)"),
                                            "checkUpdatesAuto", &AppConfig::checkUpdatesAuto));

    auto* login = new QCheckBox(l10n("launch_on_login"));
    login->setObjectName(QStringLiteral("action:launch_on_login"));
    login->setChecked(model_.actions().launchOnLogin());
    connect(login, &QCheckBox::toggled, this, [this, login](bool on) {
        model_.actions().setLaunchOnLogin(on);
        // Shows what the desktop's autostart now holds, which may differ when it could not be written.
        const QSignalBlocker quiet(login);
        login->setChecked(model_.actions().launchOnLogin());
    });
    content->addWidget(login);

    content->addWidget(SettingsForm::row(
        l10n("keep_recordings"), SettingsForm::picker(model_, "keepRecordings", &AppConfig::keepRecordings,
                                                    {{QStringLiteral("Навсегда"), "forever"},
                                                     {QStringLiteral("30 дней"), "30d"},
                                                     {QStringLiteral("7 дней"), "7d"}})));
    content->addWidget(SettingsForm::row(
        l10n("ui_language"),
        SettingsForm::picker(model_, "uiLanguage", &AppConfig::uiLanguage,
                             {{QStringLiteral("Русский"), "ru"}, {QStringLiteral("English"), "en"}})));
    return card;
}

QWidget* ConfigurationPage::audioSection() {
    QVBoxLayout* content = nullptr;
    QFrame* card = SettingsForm::card(l10n("audio_processing"), content);
    content->addWidget(SettingsForm::toggle(model_, l10n("silence_removal"), "silenceRemoval", &AppConfig::silenceRemoval));
    content->addWidget(
        SettingsForm::toggle(model_, l10n("dyn_normalization"), "dynamicNormalization", &AppConfig::dynamicNormalization));
    content->addWidget(SettingsForm::toggle(model_,
                                            QStringLiteral("Восстановление пунктуации (ollama, для моделей без знаков)"),
                                            "punctRestore", &AppConfig::punctRestore));
    QLineEdit* punctModel = SettingsForm::textField(model_, "punctModelID", &AppConfig::punctModelID);
    punctModel->setPlaceholderText(QStringLiteral("qwen2.5:1.5b-instruct"));
    punctModel->setMinimumWidth(220);
    auto follow = [this, punctModel] { punctModel->setEnabled(model_.config().punctRestore); };
    follow();
    connect(&model_, &SettingsModel::configEdited, punctModel, follow);
    content->addWidget(SettingsForm::row(QStringLiteral("Модель пунктуации"), punctModel));
    content->addWidget(SettingsForm::note(
        QStringLiteral("GigaAM/Parakeet не ставят знаки препинания: после распознавания их расставляет эта модель "
                       "через локальный ollama. Модели со знаками (Whisper) в этом не нуждаются.")));
    return card;
}

QWidget* ConfigurationPage::textInputSection() {
    QVBoxLayout* content = nullptr;
    QFrame* card = SettingsForm::card(l10n("text_input"), content);
    content->addWidget(SettingsForm::row(
        l10n("clipboard_content"),
        SettingsForm::choice(model_, "restoreClipboard", &AppConfig::restoreClipboard,
                             QStringLiteral("Сохранять скопированное"), QStringLiteral("Заменять (не восстанавливать)"))));
    content->addWidget(SettingsForm::toggle(model_, l10n("paste_result"), "pasteResultText", &AppConfig::pasteResultText));
    content->addWidget(SettingsForm::toggle(model_, l10n("hold_shift_send"), "holdShiftToSend", &AppConfig::holdShiftToSend));
    content->addWidget(
        SettingsForm::toggle(model_, l10n("simulate_keys"), "simulateKeypresses", &AppConfig::simulateKeypresses));
    return card;
}

QWidget* ConfigurationPage::advancedSection() {
    QVBoxLayout* content = nullptr;
    QFrame* card = SettingsForm::card(l10n("advanced"), content);
    content->addWidget(SettingsForm::toggle(model_, l10n("show_in_dock"), "showDockIcon", &AppConfig::showDockIcon));
    content->addWidget(SettingsForm::toggle(model_, l10n("menubar_click_record"), "startRecordingOnMenubarClick",
                                            &AppConfig::startRecordingOnMenubarClick));
    content->addWidget(
        SettingsForm::toggle(model_, l10n("close_after"), "closeAfterTranscription", &AppConfig::closeAfterTranscription));
    // 30 s to 10 min in steps of 10 s.
    content->addWidget(SettingsForm::slider(model_, "maxRecordSeconds", &AppConfig::maxRecordSeconds, 3, 60, 10.0,
                                            recordSecondsCaption));
    content->addWidget(recordingsFolderRow());
    return card;
}

QWidget* ConfigurationPage::recordingsFolderRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Папка записей")));
    folder_ = new PathLabel;
    folder_->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(folder_, 1);
    auto* change = new QPushButton(QStringLiteral("Сменить…"));
    change->setObjectName(QStringLiteral("recordingsFolder"));
    connect(change, &QPushButton::clicked, this, &ConfigurationPage::chooseRecordingsFolder);
    layout->addWidget(change);
    auto* reset = new QPushButton(QStringLiteral("По умолчанию"));
    reset->setObjectName(QStringLiteral("recordingsFolder:default"));
    reset->setToolTip(QStringLiteral("Хранить записи в папке программы"));
    connect(reset, &QPushButton::clicked, this, [this] {
        folderProblem_->clear();
        if (model_.config().recordingsFolder) model_.editConfig([](AppConfig& c) { c.recordingsFolder.reset(); });
    });
    layout->addWidget(reset);

    auto* wrapper = new QWidget;
    auto* column = new QVBoxLayout(wrapper);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(row);
    folderProblem_ = SettingsForm::note({});
    folderProblem_->setObjectName(QStringLiteral("recordingsFolderProblem"));
    column->addWidget(folderProblem_);
    showRecordingsFolder();
    return wrapper;
}

void ConfigurationPage::chooseRecordingsFolder() {
    const auto& current = model_.config().recordingsFolder;
    const QString start = QString::fromStdString(current ? *current : model_.config().recordingsDirectory().string());
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Папка записей"), start);
    if (chosen.isEmpty()) return;
    const QFileInfo info(chosen);
    if (!info.isDir() || !info.isWritable()) {
        folderProblem_->setText(QStringLiteral("В папку нельзя записывать: ") + QDir::toNativeSeparators(chosen));
        return;
    }
    folderProblem_->clear();
    const std::string path = QDir::cleanPath(info.absoluteFilePath()).toStdString();
    if (current == path) return;
    model_.editConfig([&](AppConfig& c) { c.recordingsFolder = path; });
}

void ConfigurationPage::showRecordingsFolder() {
    if (!folder_) return;
    const auto& folder = model_.config().recordingsFolder;
    static_cast<PathLabel*>(folder_)->setPath(folder ? QDir::toNativeSeparators(QString::fromStdString(*folder))
                                                     : QStringLiteral("по умолчанию"));
    if (!folder) folder_->setToolTip(QString::fromStdString(model_.config().recordingsDirectory().string()));
    if (auto* reset = findChild<QPushButton*>(QStringLiteral("recordingsFolder:default")))
        reset->setEnabled(folder.has_value());
}

void ConfigurationPage::showConflicts() {
    const QString text = conflictText(model_.conflicts());
    conflicts_->setText(text);
    conflicts_->setVisible(!text.isEmpty());
}

}  // namespace quorvel
