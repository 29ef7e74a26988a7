#include "ui/settings/HistoryPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include "core/L10n.h"
#include "ui/settings/RecordingList.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel {

HistoryPage::HistoryPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    QVBoxLayout* body = SettingsForm::pageBody(*this, QString::fromStdString(L10n::t("history")));
    auto* header = new QHBoxLayout;
    count_ = new QLabel;
    count_->setObjectName(QStringLiteral("historyCount"));
    auto* refresh = new QPushButton(
        QIcon::fromTheme(QStringLiteral("view-refresh"), style()->standardIcon(QStyle::SP_BrowserReload)),
        QStringLiteral("Обновить"));
    refresh->setObjectName(QStringLiteral("refreshButton"));
    connect(refresh, &QPushButton::clicked, this, [this] { model_.reloadHistory(); });
    header->addWidget(count_);
    header->addStretch();
    header->addWidget(refresh);
    body->addLayout(header);

    empty_ = SettingsForm::note(QString::fromStdString(L10n::t("no_recordings")));
    empty_->setObjectName(QStringLiteral("noRecordings"));
    body->addWidget(empty_);
    list_ = new RecordingList(model_);
    list_->setObjectName(QStringLiteral("historyList"));
    body->addWidget(list_);
    body->addStretch();
    if (auto* scroll = findChild<QScrollArea*>()) list_->followScroll(*scroll);

    connect(&model_, &SettingsModel::historyChanged, this, &HistoryPage::showHistory);
    showHistory();
}

void HistoryPage::showHistory() {
    const auto& history = model_.history();
    count_->setText(QString::asprintf("%lld записей", static_cast<long long>(history.size())));
    empty_->setVisible(history.empty());
    list_->setEntries(history);
}

}  // namespace quorvel
