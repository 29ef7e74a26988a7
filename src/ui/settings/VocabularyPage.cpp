#include "ui/settings/VocabularyPage.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QStringDecoder>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QVBoxLayout>

#include <functional>

#include "core/L10n.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/VocabListModel.h"

namespace quorvel {
namespace {

QString l10n(const char* key) { return QString::fromStdString(L10n::t(key)); }

// A vocabulary file bigger than this is not a word list; reading it whole would only stall the window.
constexpr qint64 kMaxCsvBytes = 16 * 1024 * 1024;

// One rule per row: the phrase, an arrow, the replacement, and a remove button at the end. Painted
// rather than built from widgets so a long vocabulary costs nothing per row. The icons are made
// once: a fallback icon takes the style a fraction of a millisecond, and every visible row paints two.
class VocabRowDelegate : public QStyledItemDelegate {
public:
    VocabRowDelegate(std::function<void(int)> onRemove, QObject* parent)
        : QStyledItemDelegate(parent),
          onRemove_(std::move(onRemove)),
          arrow_(QIcon::fromTheme("go-next", QApplication::style()->standardIcon(QStyle::SP_ArrowRight))),
          removeIcon_(QIcon::fromTheme("list-remove", QApplication::style()->standardIcon(QStyle::SP_DialogDiscardButton))) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {0, option.fontMetrics.height() + 16};  // as wide as the view, never wider
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

        const QRect remove = removeRect(option.rect);
        const int arrowSize = 16;
        const QRect text = option.rect.adjusted(12, 0, -(remove.width() + 16), 0);
        const int half = (text.width() - arrowSize - 16) / 2;
        const QRect wrongRect(text.left(), text.top(), half, text.height());
        const QRect arrowRect(wrongRect.right() + 8, text.center().y() - arrowSize / 2, arrowSize, arrowSize);
        const QRect rightRect(arrowRect.right() + 8, text.top(), half, text.height());

        painter->save();
        const bool selected = option.state & QStyle::State_Selected;
        painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QFontMetrics& metrics = option.fontMetrics;
        const auto draw = [&](const QRect& rect, int role) {
            painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter,
                              metrics.elidedText(index.data(role).toString(), Qt::ElideRight, rect.width()));
        };
        draw(wrongRect, VocabListModel::WrongRole);
        arrow_.paint(painter, arrowRect);
        draw(rightRect, VocabListModel::RightRole);
        removeIcon_.paint(painter, remove);
        painter->restore();
    }

    bool editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option, const QModelIndex& index) override {
        if (event->type() != QEvent::MouseButtonRelease) return false;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !removeRect(option.rect).contains(mouse->position().toPoint())) return false;
        onRemove_(index.row());
        return true;
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() == QEvent::ToolTip && removeRect(option.rect).contains(event->pos())) {
            QToolTip::showText(event->globalPos(), l10n("delete"), view);
            return true;
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

private:
    static QRect removeRect(const QRect& row) {
        const int size = 18;
        return {row.right() - size - 10, row.center().y() - size / 2, size, size};
    }

    std::function<void(int)> onRemove_;
    QIcon arrow_;
    QIcon removeIcon_;
};

}  // namespace

VocabularyPage::VocabularyPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    QVBoxLayout* body = SettingsForm::listPageBody(*this, l10n("vocabulary"));
    body->addWidget(buildAddRow());

    rows_ = new VocabListModel(model_, this);
    list_ = new QListView;
    list_->setObjectName(QStringLiteral("vocabList"));
    list_->setModel(rows_);
    list_->setItemDelegate(new VocabRowDelegate([this](int row) { removeRow(row); }, list_));
    list_->setUniformItemSizes(true);
    list_->setMouseTracking(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setMinimumHeight(160);
    body->addWidget(list_, 1);

    auto* removeSelected = new QShortcut(QKeySequence::Delete, list_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(removeSelected, &QShortcut::activated, this, [this] {
        if (list_->currentIndex().isValid()) removeRow(list_->currentIndex().row());
    });
}

QWidget* VocabularyPage::buildAddRow() {
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* fields = new QHBoxLayout;
    wrong_ = new QLineEdit;
    wrong_->setObjectName(QStringLiteral("addWord"));
    wrong_->setPlaceholderText(l10n("add_word"));
    right_ = new QLineEdit;
    right_->setObjectName(QStringLiteral("replaceWith"));
    right_->setPlaceholderText(l10n("replace_with"));
    add_ = new QPushButton(QStringLiteral("Добавить (Ctrl+⏎)"));
    add_->setObjectName(QStringLiteral("addPair"));
    add_->setEnabled(false);
    // The return sign comes from a fallback font that the button's size hint underestimates.
    add_->setMinimumWidth(add_->sizeHint().width() + add_->fontMetrics().height());
    fields->addWidget(wrong_, 1);
    fields->addWidget(right_, 1);
    fields->addWidget(add_);
    layout->addLayout(fields);

    auto* import = new QHBoxLayout;
    auto* importButton = new QPushButton(QIcon::fromTheme("document-import", style()->standardIcon(QStyle::SP_DialogOpenButton)),
                                         l10n("import_csv"));
    importButton->setObjectName(QStringLiteral("importCsv"));
    importResult_ = SettingsForm::note(QString());
    importResult_->setObjectName(QStringLiteral("importResult"));
    import->addWidget(importButton);
    import->addWidget(importResult_, 1);
    layout->addLayout(import);

    connect(wrong_, &QLineEdit::textChanged, this, [this](const QString& text) { add_->setEnabled(!text.trimmed().isEmpty()); });
    connect(wrong_, &QLineEdit::returnPressed, right_, qOverload<>(&QWidget::setFocus));
    connect(right_, &QLineEdit::returnPressed, this, &VocabularyPage::addPair);
    connect(add_, &QPushButton::clicked, this, &VocabularyPage::addPair);
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, &VocabularyPage::addPair);
    }
    connect(importButton, &QPushButton::clicked, this, &VocabularyPage::chooseCsvFile);
    return widget;
}

void VocabularyPage::addPair() {
    const std::string wrong = wrong_->text().trimmed().toStdString();
    if (wrong.empty()) return;
    // An empty replacement is a rule too: it removes the phrase from the text.
    const std::string right = right_->text().trimmed().toStdString();
    VocabStore::Pairs pairs = model_.vocab();
    pairs[wrong] = right;
    model_.setVocab(std::move(pairs));
    wrong_->clear();
    right_->clear();
    wrong_->setFocus();
    const QModelIndex added = rows_->index(rows_->rowOf(wrong));
    list_->setCurrentIndex(added);
    list_->scrollTo(added);
}

void VocabularyPage::removeRow(int row) {
    if (row < 0 || row >= rows_->rowCount()) return;
    VocabStore::Pairs pairs = model_.vocab();
    pairs.erase(rows_->at(row).wrong);
    model_.setVocab(std::move(pairs));
    // Keep the keyboard where it was, so Delete can go down the list.
    if (rows_->rowCount() > 0) list_->setCurrentIndex(rows_->index(std::min(row, rows_->rowCount() - 1)));
}

void VocabularyPage::chooseCsvFile() {
    const QString path = QFileDialog::getOpenFileName(this, l10n("import_csv"), QString(),
                                                      QStringLiteral("CSV (*.csv *.txt);;* (*)"));
    if (!path.isEmpty()) importCsvFile(path);
}

void VocabularyPage::importCsvFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        importResult_->setText(path + QStringLiteral(": ") + file.errorString());
        return;
    }
    // Read up to the limit, not by the size the file claims: a device or a pipe has none and never ends.
    const QByteArray bytes = file.read(kMaxCsvBytes + 1);
    if (bytes.size() > kMaxCsvBytes) {
        importResult_->setText(path + QStringLiteral(": > %1 MB").arg(kMaxCsvBytes / (1024 * 1024)));
        return;
    }
    // A binary file has separators somewhere too: its rules would rewrite dictated text with junk.
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString text = utf8.decode(bytes);  // decodes only when taken as a string
    if (utf8.hasError() || bytes.contains('\0')) {
        importResult_->setText(path + QStringLiteral(": ") +
                               SettingsForm::bilingual("не текст в UTF-8, ничего не импортировано",
                                                       "not UTF-8 text, nothing imported"));
        return;
    }
    const int added = model_.importVocabCsv(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    importResult_->setText(QStringLiteral("Импортировано пар: %1").arg(added));
}

}  // namespace quorvel
