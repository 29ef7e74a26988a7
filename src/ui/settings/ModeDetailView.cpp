#include "ui/settings/ModeDetailView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "core/AppConfig.h"
#include "core/DictationMode.h"
#include "core/L10n.h"
#include "core/ModelCatalog.h"
#include "ui/UiTexts.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/ShortcutRow.h"

namespace quorvel {
namespace {

QString l10n(const char* key) { return QString::fromStdString(L10n::t(key)); }

QString joinApps(const std::vector<std::string>& apps) {
    QStringList names;
    for (const auto& app : apps) names << QString::fromStdString(app);
    return names.join(QStringLiteral(", "));
}

// "Safari,  Telegram ,," → {"Safari", "Telegram"}: blanks around names and empty names are typing slips.
std::vector<std::string> splitApps(const QString& text) {
    std::vector<std::string> apps;
    for (const QString& piece : text.split(QLatin1Char(','))) {
        const QString name = piece.trimmed();
        if (!name.isEmpty()) apps.push_back(name.toStdString());
    }
    return apps;
}

// A required text field seen through the optional-valued picker.
auto requiredField(std::string DictationMode::*member) {
    return std::pair{[member](const DictationMode& m) -> std::optional<std::string> { return m.*member; },
                     [member](DictationMode& m, const std::optional<std::string>& v) { m.*member = v.value_or(""); }};
}

auto optionalField(std::optional<std::string> DictationMode::*member) {
    return std::pair{[member](const DictationMode& m) { return m.*member; },
                     [member](DictationMode& m, const std::optional<std::string>& v) { m.*member = v; }};
}

QFormLayout* formIn(QVBoxLayout* content) {
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setHorizontalSpacing(16);
    content->addLayout(form);
    return form;
}

QCheckBox* comingSoon(const QString& text, const char* iconName) {
    auto* box = new QCheckBox(text + QStringLiteral(" · ") + l10n("soon"));
    box->setIcon(QIcon::fromTheme(iconName));
    box->setEnabled(false);
    return box;
}

}  // namespace

ModeDetailView::ModeDetailView(SettingsModel& model, std::string modeId, QWidget* parent)
    : QWidget(parent), model_(model), modeId_(std::move(modeId)) {
    QVBoxLayout* body = SettingsForm::pageBody(*this, QString());
    title_ = qobject_cast<QLabel*>(body->itemAt(0)->widget());
    title_->setSizePolicy(QSizePolicy::Ignored, title_->sizePolicy().verticalPolicy());
    title_->installEventFilter(this);
    body->insertWidget(0, buildHeader());
    body->addWidget(buildMainCard());
    body->addWidget(buildAdvancedCard());
    alignFormLabels();
    auto* remove = new QPushButton(QIcon::fromTheme("edit-delete", style()->standardIcon(QStyle::SP_TrashIcon)), l10n("delete_mode"));
    remove->setObjectName(QStringLiteral("deleteMode"));
    connect(remove, &QPushButton::clicked, this, &ModeDetailView::confirmDelete);
    body->addWidget(remove, 0, Qt::AlignLeft);
    body->addStretch();
    connect(&model_, &SettingsModel::configEdited, this, &ModeDetailView::refresh);
    refresh();
}

QWidget* ModeDetailView::buildHeader() {
    auto* backButton = new QToolButton;
    backButton->setObjectName(QStringLiteral("modeBack"));
    backButton->setIcon(QIcon::fromTheme("go-previous", style()->standardIcon(QStyle::SP_ArrowBack)));
    backButton->setText(l10n("modes"));
    backButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    backButton->setAutoRaise(true);
    backButton->setShortcut(QKeySequence::Back);
    connect(backButton, &QToolButton::clicked, this, [this] {
        commitPrompt();  // the prompt is saved on leaving it; going back leaves it too
        Q_EMIT back();
    });
    return backButton;
}

QWidget* ModeDetailView::buildMainCard() {
    QVBoxLayout* content = nullptr;
    QFrame* frame = SettingsForm::card(QString(), content);
    QFormLayout* form = formIn(content);

    name_ = lineField("name", [](const DictationMode& m) { return QString::fromStdString(m.name); },
                      [](DictationMode& m, const QString& text) {
                          // A mode without a name cannot be told apart in the list: an emptied
                          // field gives the old name back.
                          if (!text.trimmed().isEmpty()) m.name = text.trimmed().toStdString();
                      });
    form->addRow(QStringLiteral("Название"), name_);

    const auto [presetGet, presetSet] = requiredField(&DictationMode::preset);
    form->addRow(l10n("preset"), picker("preset",
                                      {{QStringLiteral("Default"), "default"},
                                       {QStringLiteral("Деловой"), "formal"},
                                       {QStringLiteral("Код"), "code"},
                                       {QStringLiteral("Свой (prompt)"), "custom"}},
                                      presetGet, presetSet));
    prompt_ = new QPlainTextEdit;
    prompt_->setObjectName(QStringLiteral("prompt"));
    prompt_->setTabChangesFocus(true);
    prompt_->setFixedHeight(prompt_->fontMetrics().height() * 4 + 12);
    prompt_->installEventFilter(this);
    refreshers_.push_back([this](const DictationMode& m) {
        if (prompt_->document()->isModified()) return;  // the user is still writing it
        const QString text = QString::fromStdString(m.prompt);
        if (prompt_->toPlainText() != text) prompt_->setPlainText(text);
        prompt_->document()->setModified(false);
    });
    form->addRow(QStringLiteral("Prompt"), prompt_);

    const auto [languageGet, languageSet] = requiredField(&DictationMode::language);
    form->addRow(l10n("language"), picker("language",
                                        {{QStringLiteral("Авто"), "auto"},
                                         {QStringLiteral("Русский"), "ru"},
                                         {QStringLiteral("English"), "en"}},
                                        languageGet, languageSet));

    std::vector<Choice> voiceModels{{QStringLiteral("Глобальная"), std::nullopt}};
    for (const STTModel& entry : ModelCatalog::all()) voiceModels.push_back({QString::fromStdString(entry.name), entry.id});
    const auto [sttGet, sttSet] = optionalField(&DictationMode::sttModelID);
    form->addRow(l10n("voice_model"), picker("sttModelID", std::move(voiceModels), sttGet, sttSet));

    const auto [llmGet, llmSet] = optionalField(&DictationMode::llmModel);
    form->addRow(l10n("language_model"), picker("llmModel",
                                              {{QStringLiteral("Глобальная (ollama)"), std::nullopt},
                                               {QStringLiteral("qwen3.6:27b"), "qwen3.6:27b"},
                                               {QStringLiteral("qwen3.5:2b"), "qwen3.5:2b"}},
                                              llmGet, llmSet));

    const auto [translateGet, translateSet] = requiredField(&DictationMode::translateTo);
    form->addRow(l10n("translation"), picker("translateTo",
                                           {{QStringLiteral("Выкл"), "off"},
                                            {QStringLiteral("На английский"), "en"},
                                            {QStringLiteral("На русский"), "ru"}},
                                           translateGet, translateSet));

    QLineEdit* apps = lineField("activateApps", [](const DictationMode& m) { return joinApps(m.activateApps); },
                                [](DictationMode& m, const QString& text) { m.activateApps = splitApps(text); });
    apps->setToolTip(l10n("activate_apps_hint"));
    form->addRow(l10n("activate_apps"), apps);
    form->addRow(QString(), SettingsForm::note(l10n("activate_apps_hint")));

    form->addRow(l10n("record_shortcut"), buildShortcutSeam());
    return frame;
}

QWidget* ModeDetailView::buildShortcutSeam() {
    // The mode's own hot key: captured like the program's keys, optional, removed with "×".
    auto* row = new ShortcutRow(QString(), std::nullopt, ShortcutRow::Options{.defaultCombo = std::nullopt, .removable = true});
    row->setObjectName(QStringLiteral("modeShortcutRow"));
    row->onChanged = [this](const std::optional<KeyCombo>& combo) {
        editMode([&](DictationMode& m) { m.shortcut = combo; });
    };
    refreshers_.push_back([row](const DictationMode& m) {
        if (row->combo() != m.shortcut) row->setCombo(m.shortcut);
    });
    return row;
}

QWidget* ModeDetailView::buildAdvancedCard() {
    QVBoxLayout* content = nullptr;
    QFrame* frame = SettingsForm::card(l10n("advanced"), content);
    QFormLayout* form = formIn(content);

    const auto [soundGet, soundSet] = requiredField(&DictationMode::soundWhileRecordingMode);
    form->addRow(l10n("sound_while_recording"), picker("soundWhileRecordingMode",
                                                     {{QStringLiteral("Как в Sound"), "inherit"},
                                                      {QStringLiteral("Нет"), "off"},
                                                      {QStringLiteral("Тик каждые 5 с"), "tick"}},
                                                     soundGet, soundSet));
    const auto [pasteGet, pasteSet] = requiredField(&DictationMode::autoPaste);
    form->addRow(l10n("auto_paste"), picker("autoPaste",
                                          {{QStringLiteral("По умолчанию"), "default"},
                                           {QStringLiteral("Вкл"), "on"},
                                           {QStringLiteral("Выкл"), "off"}},
                                          pasteGet, pasteSet));

    auto* capitalize = new QCheckBox(l10n("autocapitalize"));
    capitalize->setObjectName(QStringLiteral("autocapitalize"));
    connect(capitalize, &QCheckBox::toggled, this,
            [this](bool on) { editMode([on](DictationMode& m) { m.autocapitalize = on; }); });
    refreshers_.push_back([capitalize](const DictationMode& m) {
        const QSignalBlocker quiet(capitalize);
        capitalize->setChecked(m.autocapitalize);
    });
    content->addWidget(capitalize);
    content->addWidget(comingSoon(l10n("system_audio"), "audio-volume-high"));
    content->addWidget(comingSoon(l10n("identify_speakers"), "system-users"));
    return frame;
}

QComboBox* ModeDetailView::picker(const char* field, std::vector<Choice> choices, Getter get, Setter set) {
    auto* combo = new QComboBox;
    combo->setObjectName(QString::fromLatin1(field));
    auto shared = std::make_shared<std::vector<Choice>>(std::move(choices));
    for (const Choice& choice : *shared) combo->addItem(choice.text);
    connect(combo, &QComboBox::activated, this, [this, shared, set](int index) {
        if (index < 0 || static_cast<size_t>(index) >= shared->size()) return;
        const Value value = (*shared)[static_cast<size_t>(index)].value;
        editMode([&](DictationMode& m) { set(m, value); });
    });
    refreshers_.push_back([combo, shared, get](const DictationMode& m) {
        const Value value = get(m);
        auto found = std::find_if(shared->begin(), shared->end(), [&](const Choice& c) { return c.value == value; });
        if (found == shared->end()) {
            // A value this program does not offer (a hand-edited file, a model no longer in the
            // catalog) is shown as it is and kept until the user picks another.
            shared->push_back({QString::fromStdString(value.value_or("")), value});
            combo->addItem(shared->back().text);
            found = shared->end() - 1;
        }
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(static_cast<int>(found - shared->begin()));
    });
    return combo;
}

QLineEdit* ModeDetailView::lineField(const char* field, std::function<QString(const DictationMode&)> get,
                                     std::function<void(DictationMode&, const QString&)> set) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(field));
    connect(edit, &QLineEdit::editingFinished, this, [this, edit, get, set] {
        if (!edit->isModified()) return;
        edit->setModified(false);
        const QString text = edit->text();
        editMode([&](DictationMode& m) { set(m, text); });
        if (const DictationMode* now = mode()) edit->setText(get(*now));  // show it as stored
    });
    refreshers_.push_back([edit, get](const DictationMode& m) {
        if (edit->isModified()) return;  // the user is still typing
        const QString text = get(m);
        if (edit->text() != text) edit->setText(text);
    });
    return edit;
}

const DictationMode* ModeDetailView::mode() const {
    const auto& modes = model_.config().modes;
    const auto found = std::find_if(modes.begin(), modes.end(), [&](const DictationMode& m) { return m.id == modeId_; });
    return found == modes.end() ? nullptr : &*found;
}

void ModeDetailView::editMode(const std::function<void(DictationMode&)>& edit) {
    const DictationMode* current = mode();
    if (!current) return;
    DictationMode changed = *current;
    edit(changed);
    if (changed == *current) return;
    model_.editConfig([&](AppConfig& config) {
        for (DictationMode& m : config.modes)
            if (m.id == modeId_) m = changed;
    });
}

bool ModeDetailView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == prompt_ && event->type() == QEvent::FocusOut) commitPrompt();
    if (watched == title_ && event->type() == QEvent::Resize) showTitle();
    return QWidget::eventFilter(watched, event);
}

void ModeDetailView::commitPrompt() {
    if (!prompt_->document()->isModified()) return;
    prompt_->document()->setModified(false);
    const std::string text = prompt_->toPlainText().toStdString();
    editMode([&](DictationMode& m) { m.prompt = text; });
}

void ModeDetailView::confirmDelete() {
    const DictationMode* current = mode();
    if (!current) return;
    // A name of any length fits the question's line.
    const QString name = fontMetrics().elidedText(QString::fromStdString(current->name), Qt::ElideMiddle, 360);
    const QString question = l10n("delete_mode") + QStringLiteral(" «") + name + QStringLiteral("»?");
    if (QMessageBox::question(this, l10n("delete_mode"), question, QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel) !=
        QMessageBox::Yes)
        return;
    model_.editConfig([this](AppConfig& config) {
        std::erase_if(config.modes, [this](const DictationMode& m) { return m.id == modeId_; });
        // The active mode falls back to the first one, as ModeRules::activeMode reads it; the id
        // is written so that cycling starts from the mode the user sees as active.
        if (config.activeModeID == modeId_) config.activeModeID = config.modes.empty() ? std::string() : config.modes.front().id;
    });
}

void ModeDetailView::alignFormLabels() {
    // Both cards' fields start at the same x: the labels share the widest label's width.
    const QList<QFormLayout*> forms = findChildren<QFormLayout*>();
    int widest = 0;
    for (const QFormLayout* form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole)) widest = std::max(widest, label->sizeHint().width());
    for (QFormLayout* form : forms)
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole); label && label->widget())
                label->widget()->setMinimumWidth(widest);
}

void ModeDetailView::refresh() {
    const DictationMode* current = mode();
    if (!current) {
        Q_EMIT back();
        return;
    }
    titleText_ = QString::fromStdString(current->name);
    showTitle();
    for (const auto& show : refreshers_) show(*current);
}

void ModeDetailView::showTitle() {
    title_->setText(title_->fontMetrics().elidedText(titleText_, Qt::ElideRight, title_->width()));
}

void ModeDetailView::focusName() {
    name_->setFocus();
    name_->selectAll();
}

}  // namespace quorvel
