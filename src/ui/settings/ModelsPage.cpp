#include "ui/settings/ModelsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <string>

#include "core/L10n.h"
#include "core/WorkerPrefs.h"
#include "services/ModelStore.h"
#include "ui/settings/ModelRow.h"
#include "ui/settings/RuntimeCard.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel {
namespace {

QString l10n(const char* key) {
    return QString::fromStdString(L10n::t(key));
}

// Whether `a` comes before `b` in the order `sortKey` ("name", "type" or "size") names; the name
// decides ties.
bool comesBefore(const STTModel& a, const STTModel& b, const QString& sortKey) {
    const int byName = QString::fromStdString(a.name).compare(QString::fromStdString(b.name), Qt::CaseInsensitive);
    if (sortKey == QLatin1String("type") && a.type != b.type) return a.type < b.type;
    if (sortKey == QLatin1String("size") && a.sizeMB != b.sizeMB) return a.sizeMB < b.sizeMB;
    return byName < 0;
}

}  // namespace

ModelsPage::ModelsPage(SettingsModel& model, QWidget* parent) : SettingsPage(model, parent) {
    QVBoxLayout* body = SettingsForm::pageBody(*this, l10n("models"));
    body->addWidget(buildFilters());
    body->addWidget(SettingsForm::note(QString::fromUtf8(
        "STT-воркер перезапускается с новой моделью при следующем распознавании. Облачные модели (BYOK) — "
        "дорожная карта.")));
    runtime_ = new RuntimeCard(model_);
    body->addWidget(runtime_);

    QVBoxLayout* list = nullptr;
    body->addWidget(SettingsForm::card({}, list));
    rowsLayout_ = new QVBoxLayout;
    rowsLayout_->setSpacing(0);
    list->addLayout(rowsLayout_);
    for (const STTModel& entry : ModelCatalog::all()) rows_.push_back(new ModelRow(model_, entry));
    nothingFound_ = SettingsForm::note(SettingsForm::bilingual("Ничего не найдено.", "Nothing found."));
    nothingFound_->setObjectName(QStringLiteral("nothingFound"));
    list->addWidget(nothingFound_);
    body->addStretch();

    ModelStore& store = model_.models();
    connect(&store, &ModelStore::changed, this, &ModelsPage::refreshRows);
    connect(&store, &ModelStore::downloadingChanged, this, &ModelsPage::refreshRows);
    connect(&store, &ModelStore::progress, this, [this](const QString& id, int done, int total) {
        if (ModelRow* row = rowOf(id)) row->showSteps(done, total);
    });
    connect(&store, &ModelStore::received, this, [this](const QString& id, qint64 bytes) {
        if (ModelRow* row = rowOf(id)) row->showReceived(bytes);
    });
    connect(&store, &ModelStore::downloadFinished, this, [this](const QString& id, bool ok, const QString& error) {
        ModelRow* row = rowOf(id);
        if (row && !ok && error != QLatin1String("cancelled")) row->showFailure(error);
    });
    connect(&model_, &SettingsModel::configEdited, this, [this] {
        refreshRows();
        if (favouritesOnly_->isChecked()) arrangeRows();
    });
    refreshRows();
    arrangeRows();
}

QWidget* ModelsPage::buildFilters() {
    auto* bar = new QWidget;
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("search"));
    search_->setPlaceholderText(l10n("search"));
    search_->setClearButtonEnabled(true);
    layout->addWidget(search_, 1);
    auto* sortLabel = new QLabel(l10n("sort_by"));
    layout->addWidget(sortLabel);
    sort_ = new QComboBox;
    sort_->setObjectName(QStringLiteral("sort_by"));
    sort_->addItem(QString::fromUtf8("Имя"), QStringLiteral("name"));
    sort_->addItem(QString::fromUtf8("Тип"), QStringLiteral("type"));
    sort_->addItem(QString::fromUtf8("Размер"), QStringLiteral("size"));
    sortLabel->setBuddy(sort_);
    layout->addWidget(sort_);
    favouritesOnly_ = new QCheckBox(l10n("favorites_only"));
    favouritesOnly_->setObjectName(QStringLiteral("favorites_only"));
    layout->addWidget(favouritesOnly_);
    connect(search_, &QLineEdit::textChanged, this, &ModelsPage::arrangeRows);
    connect(sort_, &QComboBox::currentIndexChanged, this, &ModelsPage::arrangeRows);
    connect(favouritesOnly_, &QCheckBox::toggled, this, &ModelsPage::arrangeRows);
    return bar;
}

void ModelsPage::pageShown() {
    // Models may have been put into the folders by hand, and the interpreter changed outside.
    refreshRows();
    runtime_->recheck();
}

ModelRow* ModelsPage::rowOf(const QString& id) const {
    for (ModelRow* row : rows_) {
        if (QString::fromStdString(row->entry().id) == id) return row;
    }
    return nullptr;
}

void ModelsPage::refreshRows() {
    const std::optional<WorkerPrefs> inUse = workerPrefs(model_.config(), model_.models().catalog());
    for (ModelRow* row : rows_) {
        const auto dir = model_.models().catalog().directory(row->entry());
        row->refresh(inUse && dir && inUse->dir == dir->string());
    }
}

void ModelsPage::arrangeRows() {
    std::vector<ModelRow*> ordered = rows_;
    const QString sortKey = sort_->currentData().toString();
    std::stable_sort(ordered.begin(), ordered.end(), [&](const ModelRow* a, const ModelRow* b) {
        return comesBefore(a->entry(), b->entry(), sortKey);
    });
    bool any = false;
    for (int i = 0; i < static_cast<int>(ordered.size()); ++i) {
        ModelRow* row = ordered[static_cast<std::size_t>(i)];
        rowsLayout_->removeWidget(row);
        rowsLayout_->insertWidget(i, row);
        const bool shown = row->matches(search_->text()) && (!favouritesOnly_->isChecked() || row->isFavourite());
        row->setVisible(shown);
        any = any || shown;
    }
    nothingFound_->setVisible(!any);
}

}  // namespace quorvel
