#include "ui/settings/SettingsForm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "core/L10n.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/ShortcutRow.h"

namespace quorvel::SettingsForm {
namespace {

QLabel* pageTitle(const QString& title) {
    auto* heading = new QLabel(title);
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    heading->setFont(font);
    return heading;
}

}  // namespace

QVBoxLayout* pageBody(QWidget& page, const QString& title, const QString& subtitle) {
    auto* outer = new QVBoxLayout(&page);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    outer->addWidget(scroll);
    auto* body = new QWidget;
    scroll->setWidget(body);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);
    layout->addWidget(pageTitle(title));
    if (!subtitle.isEmpty()) layout->addWidget(note(subtitle));
    return layout;
}

QFrame* card(const QString& title, QVBoxLayout*& content) {
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("settingsCard"));
    frame->setFrameShape(QFrame::StyledPanel);
    content = new QVBoxLayout(frame);
    content->setContentsMargins(14, 12, 14, 12);
    content->setSpacing(8);
    if (!title.isEmpty()) {
        auto* heading = new QLabel(title);
        QFont font = heading->font();
        font.setBold(true);
        heading->setFont(font);
        content->addWidget(heading);
    }
    return frame;
}

QLabel* note(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QCheckBox* toggle(SettingsModel& model, const QString& label, const char* field, bool AppConfig::*member) {
    auto* box = new QCheckBox(label);
    box->setObjectName(QString::fromLatin1(field));
    box->setChecked(model.config().*member);
    QObject::connect(box, &QCheckBox::toggled, box, [&model, member](bool on) {
        if (model.config().*member == on) return;
        model.editConfig([&](AppConfig& c) { c.*member = on; });
    });
    QObject::connect(&model, &SettingsModel::configEdited, box, [&model, box, member] {
        if (box->isChecked() != model.config().*member) box->setChecked(model.config().*member);
    });
    return box;
}

QComboBox* picker(SettingsModel& model, const char* field, std::string AppConfig::*member, const Choices& choices) {
    auto* combo = new QComboBox;
    combo->setObjectName(QString::fromLatin1(field));
    for (const auto& [text, value] : choices) combo->addItem(text, QString::fromStdString(value));
    auto show = [&model, combo, member] {
        const int index = combo->findData(QString::fromStdString(model.config().*member));
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(index >= 0 ? index : 0);
    };
    show();
    QObject::connect(combo, &QComboBox::activated, combo, [&model, combo, member](int index) {
        const std::string value = combo->itemData(index).toString().toStdString();
        if (model.config().*member == value) return;
        model.editConfig([&](AppConfig& c) { c.*member = value; });
    });
    QObject::connect(&model, &SettingsModel::configEdited, combo, show);
    return combo;
}

QWidget* row(const QString& label, QWidget* control) {
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* text = new QLabel(label);
    text->setWordWrap(true);
    layout->addWidget(text, 1);
    layout->addWidget(control);
    return widget;
}

QVBoxLayout* listPageBody(QWidget& page, const QString& title) {
    auto* layout = new QVBoxLayout(&page);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);
    layout->addWidget(pageTitle(title));
    return layout;
}

}  // namespace quorvel::SettingsForm

namespace quorvel::SettingsForm {

QWidget* slider(SettingsModel& model, const char* field, double AppConfig::*member, int minimum, int maximum,
                double unit, Caption caption) {
    auto* bar = new QSlider(Qt::Horizontal);
    bar->setObjectName(QString::fromLatin1(field));
    bar->setRange(minimum, maximum);
    bar->setPageStep(std::max(1, (maximum - minimum) / 10));
    bar->setMinimumWidth(220);
    auto* label = new QLabel;
    auto show = [&model, bar, label, member, unit, caption] {
        const double value = model.config().*member;
        label->setText(caption(value));
        const QSignalBlocker quiet(bar);
        bar->setValue(static_cast<int>(std::lround(value / unit)));
    };
    show();
    auto commit = [&model, bar, member, unit] {
        // 35 × 0.01 is 0.35000000000000003: store the round number the position stands for.
        const double value = std::round(bar->value() * unit * 1e9) / 1e9;
        if (model.config().*member == value) return;
        model.editConfig([&](AppConfig& c) { c.*member = value; });
    };
    QObject::connect(bar, &QSlider::valueChanged, bar, [bar, label, unit, caption, commit](int position) {
        label->setText(caption(position * unit));
        if (!bar->isSliderDown()) commit();
    });
    QObject::connect(bar, &QSlider::sliderReleased, bar, commit);
    QObject::connect(&model, &SettingsModel::configEdited, bar, [bar, show] {
        if (!bar->isSliderDown()) show();
    });
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label, 1);
    layout->addWidget(bar);
    label->setBuddy(bar);
    return widget;
}

QLineEdit* textField(SettingsModel& model, const char* field, std::string AppConfig::*member) {
    auto* edit = new QLineEdit(QString::fromStdString(model.config().*member));
    edit->setObjectName(QString::fromLatin1(field));
    QObject::connect(edit, &QLineEdit::editingFinished, edit, [&model, edit, member] {
        const std::string value = edit->text().trimmed().toStdString();
        if (value.empty() || value == model.config().*member) {
            edit->setText(QString::fromStdString(model.config().*member));
            return;
        }
        model.editConfig([&](AppConfig& c) { c.*member = value; });
    });
    QObject::connect(&model, &SettingsModel::configEdited, edit, [&model, edit, member] {
        const QString stored = QString::fromStdString(model.config().*member);
        if (!edit->hasFocus() && edit->text() != stored) edit->setText(stored);
    });
    return edit;
}

QWidget* previews(SettingsModel& model, const char* field, std::string AppConfig::*member,
                  const std::vector<Preview>& choices) {
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* group = new QButtonGroup(box);
    group->setExclusive(true);
    for (const Preview& choice : choices) {
        auto* button = new QToolButton;
        button->setObjectName(QString::fromLatin1(field) + QLatin1Char(':') + QString::fromStdString(choice.value));
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setText(choice.title);
        button->setIcon(choice.picture);
        button->setIconSize(QSize(96, 60));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setProperty("value", QString::fromStdString(choice.value));
        group->addButton(button);
        layout->addWidget(button);
        QObject::connect(button, &QToolButton::clicked, button, [&model, member, value = choice.value] {
            if (model.config().*member == value) return;
            model.editConfig([&](AppConfig& c) { c.*member = value; });
        });
    }
    layout->addStretch();
    auto show = [&model, group, member] {
        const QString stored = QString::fromStdString(model.config().*member);
        QAbstractButton* selected = group->buttons().value(0);
        for (QAbstractButton* button : group->buttons())
            if (button->property("value").toString() == stored) selected = button;
        if (selected && !selected->isChecked()) selected->setChecked(true);
    };
    show();
    QObject::connect(&model, &SettingsModel::configEdited, box, show);
    return box;
}

QComboBox* choice(SettingsModel& model, const char* field, bool AppConfig::*member, const QString& onText,
                  const QString& offText) {
    auto* combo = new QComboBox;
    combo->setObjectName(QString::fromLatin1(field));
    combo->addItem(onText, true);
    combo->addItem(offText, false);
    auto show = [&model, combo, member] {
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(model.config().*member ? 0 : 1);
    };
    show();
    QObject::connect(combo, &QComboBox::activated, combo, [&model, combo, member](int index) {
        const bool value = combo->itemData(index).toBool();
        if (model.config().*member == value) return;
        model.editConfig([&](AppConfig& c) { c.*member = value; });
    });
    QObject::connect(&model, &SettingsModel::configEdited, combo, show);
    return combo;
}

ShortcutRow* shortcut(SettingsModel& model, const QString& title, const char* field, KeyCombo AppConfig::*member,
                      const KeyCombo& defaultCombo) {
    auto* row = new ShortcutRow(title, model.config().*member, {defaultCombo, false});
    row->setObjectName(QString::fromLatin1(field));
    row->onChanged = [&model, member](const std::optional<KeyCombo>& combo) {
        if (!combo || model.config().*member == *combo) return;
        model.editConfig([&](AppConfig& c) { c.*member = *combo; });
    };
    QObject::connect(&model, &SettingsModel::configEdited, row, [&model, row, member] {
        if (row->combo() != model.config().*member) row->setCombo(model.config().*member);
    });
    return row;
}

QString bilingual(const char* russian, const char* english) {
    return QString::fromUtf8(L10n::language() == "en" ? english : russian);
}

}  // namespace quorvel::SettingsForm
