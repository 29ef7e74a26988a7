#include "ui/settings/SettingsForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "core/L10n.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel::SettingsForm {

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
    auto* heading = new QLabel(title);
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    heading->setFont(font);
    layout->addWidget(heading);
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

QString bilingual(const char* russian, const char* english) {
    return QString::fromUtf8(L10n::language() == "en" ? english : russian);
}

}  // namespace quorvel::SettingsForm
