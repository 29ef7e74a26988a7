#include "ui/settings/ModesPage.h"

#include <QApplication>
#include <QIcon>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

#include "core/AppConfig.h"
#include "core/DictationMode.h"
#include "core/L10n.h"
#include "core/ModelCatalog.h"
#include "ui/settings/ModeDetailView.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel {
namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kSubtitleRole = Qt::UserRole + 1;

QIcon presetIcon(const std::string& preset) {
    const QStyle* style = QApplication::style();
    if (preset == "formal") return QIcon::fromTheme("x-office-document", style->standardIcon(QStyle::SP_FileIcon));
    if (preset == "code") return QIcon::fromTheme("text-x-script", style->standardIcon(QStyle::SP_FileDialogContentsView));
    if (preset == "custom") return QIcon::fromTheme("document-edit", style->standardIcon(QStyle::SP_FileDialogDetailedView));
    return QIcon::fromTheme("audio-input-microphone", QIcon(QStringLiteral(":/quorvel/icons/mic.svg")));
}

// Name on the first line, the subtitle below it in the secondary colour: a mode list reads at a
// glance without a widget per row.
class ModeRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        const int line = option.fontMetrics.height();
        return {option.rect.width(), 2 * line + 18};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        background.icon = QIcon();
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

        const QRect area = option.rect.adjusted(12, 8, -12, -8);
        const int iconSize = 22;
        const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
        icon.paint(painter, QRect(area.left(), area.center().y() - iconSize / 2, iconSize, iconSize));
        const QRect text = area.adjusted(iconSize + 12, 0, 0, 0);
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;

        painter->save();
        QFont bold = option.font;
        bold.setBold(true);
        painter->setFont(bold);
        painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const int line = option.fontMetrics.height();
        const QString name = QFontMetrics(bold).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, text.width());
        painter->drawText(QRect(text.left(), text.top(), text.width(), line), Qt::AlignLeft | Qt::AlignVCenter, name);
        painter->setFont(option.font);
        painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::PlaceholderText));
        const QString subtitle = option.fontMetrics.elidedText(index.data(kSubtitleRole).toString(), Qt::ElideRight, text.width());
        painter->drawText(QRect(text.left(), text.top() + line + 2, text.width(), line), Qt::AlignLeft | Qt::AlignVCenter, subtitle);
        painter->restore();
    }
};

}  // namespace

ModesPage::ModesPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    stack_ = new QStackedWidget;
    outer->addWidget(stack_);

    auto* listPage = new QWidget;
    QVBoxLayout* body = SettingsForm::pageBody(*listPage, QString::fromStdString(L10n::t("modes")));
    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("modesList"));
    list_->setItemDelegate(new ModeRowDelegate(list_));
    list_->setUniformItemSizes(true);
    list_->setIconSize(QSize(22, 22));
    list_->setFrameShape(QFrame::StyledPanel);
    // A handful of modes: the list is as tall as its rows, the button right under it.
    list_->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    body->addWidget(list_);
    auto* create = new QPushButton(QIcon::fromTheme("list-add", style()->standardIcon(QStyle::SP_FileDialogNewFolder)),
                                   QString::fromStdString(L10n::t("create_mode")));
    create->setObjectName(QStringLiteral("createMode"));
    body->addWidget(create, 0, Qt::AlignLeft);
    body->addStretch();
    stack_->addWidget(listPage);

    // A click or Enter on a row opens the mode; the arrow keys only move the selection.
    connect(list_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        openMode(item->data(kIdRole).toString().toStdString());
    });
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        openMode(item->data(kIdRole).toString().toStdString());
    });
    connect(create, &QPushButton::clicked, this, &ModesPage::createMode);
    connect(&model_, &SettingsModel::configEdited, this, &ModesPage::fillList);
    fillList();
}

QString ModesPage::subtitle(const DictationMode& mode) {
    QStringList parts;
    parts << (mode.language == "auto" ? QStringLiteral("по умолчанию") : QString::fromStdString(mode.language));
    if (mode.translateTo != "off") parts << QStringLiteral("→ ") + QString::fromStdString(mode.translateTo);
    if (mode.sttModelID) {
        const auto entry = ModelCatalog::model(*mode.sttModelID);
        parts << QString::fromStdString(entry ? entry->name : *mode.sttModelID);
    }
    return parts.join(QStringLiteral(" · "));
}

DictationMode ModesPage::newMode() {
    DictationMode mode;
    mode.name = "Новый режим";
    return mode;
}

void ModesPage::fillList() {
    const QString current = list_->currentItem() ? list_->currentItem()->data(kIdRole).toString() : QString();
    list_->clear();
    for (const DictationMode& mode : model_.config().modes) {
        auto* item = new QListWidgetItem(presetIcon(mode.preset), QString::fromStdString(mode.name));
        item->setData(kIdRole, QString::fromStdString(mode.id));
        item->setData(kSubtitleRole, subtitle(mode));
        item->setToolTip(subtitle(mode));
        list_->addItem(item);
        if (item->data(kIdRole).toString() == current) list_->setCurrentItem(item);
    }
}

void ModesPage::createMode() {
    const DictationMode mode = newMode();
    model_.editConfig([&](AppConfig& config) { config.modes.push_back(mode); });
    // A new mode is made to be edited: open it with its name ready to type over.
    openMode(mode.id);
}

void ModesPage::openMode(const std::string& id) {
    if (detail_ && detail_->modeId() == id) return;
    closeDetail();
    const auto& modes = model_.config().modes;
    if (std::none_of(modes.begin(), modes.end(), [&](const DictationMode& m) { return m.id == id; })) return;
    detail_ = new ModeDetailView(model_, id);
    stack_->addWidget(detail_);
    stack_->setCurrentWidget(detail_);
    connect(detail_, &ModeDetailView::back, this, &ModesPage::closeDetail, Qt::QueuedConnection);
    detail_->focusName();
}

void ModesPage::closeDetail() {
    if (!detail_) return;
    stack_->setCurrentIndex(0);
    stack_->removeWidget(detail_);
    detail_->deleteLater();
    detail_ = nullptr;
    list_->setFocus();
}

}  // namespace quorvel
