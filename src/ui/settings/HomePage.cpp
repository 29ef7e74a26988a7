#include "ui/settings/HomePage.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "core/L10n.h"
#include "core/StatsStore.h"
#include "platform/ConflictCheck.h"
#include "ui/settings/RecordingList.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel {
namespace {

QString l10n(const char* key) { return QString::fromStdString(L10n::t(key)); }

QLabel* boldLabel(const QString& text, double scale = 1.0) {
    auto* label = new QLabel(text);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    return label;
}

// One figure with its caption under it, in column `column` of `grid`; returns the figure.
QLabel* statBox(QGridLayout& grid, int column, const char* objectName, const char* captionKey) {
    QLabel* value = boldLabel(QString(), 1.5);
    value->setObjectName(QString::fromLatin1(objectName));
    grid.addWidget(value, 0, column);
    auto* caption = SettingsForm::note(l10n(captionKey));
    grid.addWidget(caption, 1, column, Qt::AlignTop);
    return value;
}

QPushButton* iconButton(const QWidget& page, const char* objectName, const QString& text, const char* icon,
                        QStyle::StandardPixmap fallback) {
    auto* button = new QPushButton(QIcon::fromTheme(QString::fromLatin1(icon), page.style()->standardIcon(fallback)), text);
    button->setObjectName(QString::fromLatin1(objectName));
    return button;
}

}  // namespace

HomePage::HomePage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    QVBoxLayout* body =
        SettingsForm::pageBody(*this, QStringLiteral("Tovik"),
                               QStringLiteral("Локальная диктовка — приватность, модели на этом компьютере."));
    body->addWidget(buildConflicts());
    body->addWidget(buildStats());
    body->addWidget(buildRecent());
    body->addStretch();
    if (auto* scroll = findChild<QScrollArea*>()) recent_->followScroll(*scroll);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setObjectName(QStringLiteral("refreshTimer"));
    refreshTimer_->setInterval(kRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, &HomePage::refresh);
    connect(&model_, &SettingsModel::historyChanged, this, [this] {
        showHistory();
        showStats();
    });
    showStats();
    showHistory();
}

HomePage::~HomePage() {
    // The check's result would come back to this page.
    if (conflictCheck_.valid()) conflictCheck_.wait();
}

QFrame* HomePage::buildConflicts() {
    conflicts_ = new QFrame;
    conflicts_->setObjectName(QStringLiteral("conflictsCard"));
    conflicts_->setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(conflicts_);
    row->setContentsMargins(14, 12, 14, 12);
    auto* icon = new QLabel;
    const QIcon warning = QIcon::fromTheme(QStringLiteral("dialog-warning"), style()->standardIcon(QStyle::SP_MessageBoxWarning));
    icon->setPixmap(warning.pixmap(32, 32));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(boldLabel(QStringLiteral("Возможные конфликты")));
    conflictNames_ = new QLabel;
    conflictNames_->setObjectName(QStringLiteral("conflictNames"));
    conflictNames_->setWordWrap(true);
    texts->addWidget(conflictNames_);
    texts->addWidget(SettingsForm::note(QStringLiteral("Возможен конфликт клавиш — смените кнопку в Configuration.")));
    row->addLayout(texts, 1);
    conflicts_->hide();
    return conflicts_;
}

QFrame* HomePage::buildStats() {
    QVBoxLayout* content = nullptr;
    QFrame* card = SettingsForm::card(l10n("all_time"), content);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(0);
    words_ = statBox(*grid, 0, "statWords", "stats_words");
    wpm_ = statBox(*grid, 1, "statWpm", "stats_wpm");
    apps_ = statBox(*grid, 2, "statApps", "stats_apps");
    saved_ = statBox(*grid, 3, "statSaved", "stats_saved");
    for (int column = 0; column < 4; ++column) grid->setColumnStretch(column, 1);
    content->addLayout(grid);

    auto* buttons = new QHBoxLayout;
    auto* typing = iconButton(*this, "typingTestButton", l10n("typing_test"), "preferences-desktop-keyboard",
                              QStyle::SP_ComputerIcon);
    auto* share = iconButton(*this, "shareStatsButton", l10n("share_stats"), "document-send", QStyle::SP_ArrowUp);
    connect(typing, &QPushButton::clicked, this, [this] { model_.actions().runTypingTest(); });
    connect(share, &QPushButton::clicked, this, [this] { model_.actions().shareStats(); });
    buttons->addWidget(typing);
    buttons->addWidget(share);
    buttons->addStretch();
    content->addSpacing(6);
    content->addLayout(buttons);
    return card;
}

QWidget* HomePage::buildRecent() {
    auto* section = new QWidget;
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 6, 0, 0);
    layout->setSpacing(8);
    auto* header = new QHBoxLayout;
    header->addWidget(boldLabel(l10n("recent"), 1.15));
    header->addStretch();
    seeAll_ = new QPushButton;
    seeAll_->setObjectName(QStringLiteral("seeAllButton"));
    seeAll_->setFlat(true);
    connect(seeAll_, &QPushButton::clicked, this, &HomePage::toggleShowAll);
    header->addWidget(seeAll_);
    layout->addLayout(header);
    noRecordings_ = SettingsForm::note(l10n("no_recordings"));
    noRecordings_->setObjectName(QStringLiteral("noRecordings"));
    layout->addWidget(noRecordings_);
    recent_ = new RecordingList(model_);
    recent_->setObjectName(QStringLiteral("recentList"));
    layout->addWidget(recent_);
    return section;
}

void HomePage::pageShown() {
    refreshTimer_->start();
    showStats();
    checkConflicts();
}

void HomePage::pageHidden() { refreshTimer_->stop(); }

void HomePage::refresh() {
    model_.reloadHistoryIfChanged();  // historyChanged brings the cards and the figures up to date
    checkConflicts();
}

void HomePage::showStats() {
    StatsStore& stats = model_.stats();
    words_->setText(QString::number(stats.wordsTotal()));
    const auto wpm = StatsStore::averageDictationWPM(model_.history());
    wpm_->setText(wpm ? QString::asprintf("%.1f", *wpm) : QStringLiteral("—"));
    apps_->setText(QString::number(static_cast<qlonglong>(stats.appsUsed().size())));
    saved_->setText(QString::asprintf("%.1f", stats.hoursSaved()));
}

void HomePage::showHistory() {
    const auto& history = model_.history();
    const bool all = model_.showAllHistory;
    const std::size_t shown = all ? history.size() : std::min(history.size(), kRecentCount);
    recent_->setEntries({history.begin(), history.begin() + static_cast<std::ptrdiff_t>(shown)});
    noRecordings_->setVisible(history.empty());
    seeAll_->setVisible(history.size() > kRecentCount);
    seeAll_->setText(all ? QStringLiteral("Свернуть") : l10n("see_all"));
}

void HomePage::toggleShowAll() {
    model_.showAllHistory = !model_.showAllHistory;
    showHistory();
}

void HomePage::checkConflicts() {
    using std::chrono::operator""s;
    if (conflictCheck_.valid() && conflictCheck_.wait_for(0s) != std::future_status::ready) return;
    conflictCheck_ = std::async(std::launch::async, [this] {
        auto names = ConflictCheck::conflictApps();
        QMetaObject::invokeMethod(this, [this, names = std::move(names)] { showConflicts(names); }, Qt::QueuedConnection);
    });
}

void HomePage::showConflicts(const std::vector<std::string>& names) {
    QStringList list;
    for (const auto& name : names) list << QString::fromStdString(name);
    conflictNames_->setText(QStringLiteral("Запущены параллельно: ") + list.join(QStringLiteral(", ")) +
                            QStringLiteral("."));
    conflicts_->setVisible(!names.empty());
}

}  // namespace quorvel
