#include "ui/settings/ModelRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "core/L10n.h"
#include "core/ModeRules.h"
#include "core/WorkerPrefs.h"
#include "services/ModelStore.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr int kProgressScale = 1000;

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

QString l10n(const char* key) {
    return qs(L10n::t(key));
}

// Makes `id` the model of the next dictation: the global choice, and the active mode's own when
// that mode would not follow the global one (it names a model or its language implies one).
void useModel(AppConfig& config, const std::string& id) {
    config.sttModelID = id;
    if (chosenModelID(config) == id) return;
    const std::string activeID = ModeRules::activeMode(config).id;
    for (DictationMode& mode : config.modes) {
        if (mode.id == activeID) mode.sttModelID = id;
    }
}

QPushButton* actionButton(const QString& text, const char* name, const char* iconName, QStyle::StandardPixmap fallback,
                          QWidget* owner) {
    auto* button = new QPushButton(QIcon::fromTheme(QLatin1String(iconName), owner->style()->standardIcon(fallback)),
                                   text);
    button->setObjectName(QLatin1String(name));
    return button;
}

}  // namespace

ModelRow::ModelRow(SettingsModel& model, STTModel entry, QWidget* parent)
    : QFrame(parent), model_(model), entry_(std::move(entry)) {
    setObjectName(QStringLiteral("modelRow_") + qs(entry_.id));
    build();
}

void ModelRow::build() {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 6, 4, 6);
    layout->setSpacing(10);

    star_ = new QToolButton;
    // Bound to the favourites list, so it carries that field's name like every bound control.
    star_->setObjectName(QStringLiteral("favoriteModels"));
    QFont starFont = star_->font();
    starFont.setPointSizeF(starFont.pointSizeF() * 1.3);
    star_->setFont(starFont);
    star_->setAutoRaise(true);
    connect(star_, &QToolButton::clicked, this, &ModelRow::toggleFavourite);
    layout->addWidget(star_, 0, Qt::AlignTop);

    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* name = new QLabel(qs(entry_.name));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    name->setToolTip(qs(entry_.license));
    text->addWidget(name);
    const QString size = QString::asprintf("%.0f MB", entry_.sizeMB);
    auto* details = new QLabel(qs(entry_.languages) + QStringLiteral(" · ") + size + QStringLiteral(" · ") +
                               qs(entry_.type));
    details->setForegroundRole(QPalette::PlaceholderText);
    details->setToolTip(qs(entry_.license));
    text->addWidget(details);
    state_ = new QLabel;
    state_->setObjectName(QStringLiteral("state"));
    text->addWidget(state_);
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, kProgressScale);
    progress_->setTextVisible(true);
    progress_->setMinimumWidth(220);
    progress_->hide();
    text->addWidget(progress_);
    failure_ = SettingsForm::note({});
    failure_->setObjectName(QStringLiteral("failure"));
    failure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    failure_->setStyleSheet(QStringLiteral("color: #d64541;"));
    failure_->hide();
    text->addWidget(failure_);
    layout->addLayout(text, 1);

    download_ = actionButton(l10n("download"), "download", "document-save", QStyle::SP_ArrowDown, this);
    cancel_ = actionButton(SettingsForm::bilingual("Отменить", "Cancel"), "cancel", "process-stop",
                           QStyle::SP_BrowserStop, this);
    select_ = actionButton(l10n("select"), "sttModelID", "object-select", QStyle::SP_DialogApplyButton, this);
    delete_ = actionButton(l10n("delete"), "delete", "edit-delete", QStyle::SP_TrashIcon, this);
    select_->setToolTip(SettingsForm::bilingual("Следующая диктовка пойдёт этой моделью",
                                                "The next dictation uses this model"));
    if (!entry_.downloadURL) {
        download_->setToolTip(
            SettingsForm::bilingual("Эта модель не скачивается: положите её папку «%1» в %2",
                                    "This model cannot be downloaded: put its folder “%1” into %2")
                .arg(qs(entry_.dirName), qs(ModelCatalog::modelsDir().string())));
    }
    connect(download_, &QPushButton::clicked, this, [this] {
        showFailure({});
        model_.models().download(entry_);
    });
    connect(cancel_, &QPushButton::clicked, this, [this] { model_.models().cancel(entry_.id); });
    connect(select_, &QPushButton::clicked, this, &ModelRow::useThisModel);
    connect(delete_, &QPushButton::clicked, this, &ModelRow::askRemoval);
    for (QPushButton* button : {download_, cancel_, select_, delete_}) layout->addWidget(button, 0, Qt::AlignVCenter);
}

bool ModelRow::isFavourite() const {
    const auto& favourites = model_.config().favoriteModels;
    return std::find(favourites.begin(), favourites.end(), entry_.id) != favourites.end();
}

bool ModelRow::matches(const QString& search) const {
    const QString needle = search.trimmed();
    if (needle.isEmpty()) return true;
    for (const std::string* field : {&entry_.name, &entry_.languages, &entry_.type, &entry_.id}) {
        if (qs(*field).contains(needle, Qt::CaseInsensitive)) return true;
    }
    return false;
}

void ModelRow::refresh(bool active) {
    const ModelStore& store = model_.models();
    const bool installed = store.catalog().isDownloaded(entry_);
    const bool downloading = store.isDownloading(entry_.id);
    const bool favourite = isFavourite();
    const QIcon starIcon = QIcon::fromTheme(favourite ? QStringLiteral("starred") : QStringLiteral("non-starred"));
    star_->setIcon(starIcon);
    star_->setText(starIcon.isNull() ? QString::fromUtf8(favourite ? "★" : "☆") : QString());
    // Gold reads as "starred" on light and dark backgrounds alike.
    star_->setStyleSheet(favourite ? QStringLiteral("color: #e0a800;") : QString());
    star_->setToolTip(favourite ? SettingsForm::bilingual("Убрать из избранного", "Remove from favourites")
                                : SettingsForm::bilingual("В избранное", "Add to favourites"));

    state_->setText(active && installed ? l10n("active_f") : l10n(installed ? "downloaded" : "not_downloaded"));
    QFont font = state_->font();
    font.setBold(active && installed);
    state_->setFont(font);
    state_->setForegroundRole(active && installed ? QPalette::Highlight : QPalette::PlaceholderText);

    if (downloading && progress_->isHidden()) {
        showSteps(0, 0);
        // A page built while the download runs (another language) starts from what arrived.
        if (const qint64 bytes = store.receivedBytes(entry_.id); bytes > 0) showReceived(bytes);
    }
    progress_->setVisible(downloading);
    cancel_->setVisible(downloading);
    download_->setVisible(!installed && !downloading);
    download_->setEnabled(entry_.downloadURL.has_value());
    select_->setVisible(installed && !active);
    delete_->setVisible(!downloading && store.catalog().removableDirectory(entry_).has_value());
}

void ModelRow::showReceived(qint64 bytes) {
    const double expected = std::max(entry_.sizeMB, 1.0) * kMiB;
    // The listed size is approximate and an archive counts again as it unpacks: never "done"
    // before the download has really ended.
    const double fraction = std::min(static_cast<double>(bytes) / expected, 0.99);
    progress_->setValue(static_cast<int>(fraction * kProgressScale));
    progress_->setFormat(SettingsForm::bilingual("%1 из %2 МБ · %3%", "%1 of %2 MB · %3%")
                             .arg(static_cast<double>(bytes) / kMiB, 0, 'f', 0)
                             .arg(entry_.sizeMB, 0, 'f', 0)
                             .arg(static_cast<int>(fraction * 100)));
}

void ModelRow::showSteps(int done, int total) {
    if (total <= 0) {
        progress_->setValue(0);
        progress_->setFormat(SettingsForm::bilingual("Начинается…", "Starting…"));
        return;
    }
    // Bytes say more than steps once they are known; steps only fill the time before.
    if (progress_->value() > 0) return;
    progress_->setFormat(SettingsForm::bilingual("Шаг %1 из %2", "Step %1 of %2").arg(done).arg(total));
}

void ModelRow::showFailure(const QString& error) {
    failure_->setText(SettingsForm::bilingual("Не скачалась: %1", "Download failed: %1").arg(error));
    failure_->setVisible(!error.isEmpty());
}

void ModelRow::toggleFavourite() {
    const std::string id = entry_.id;
    model_.editConfig([&](AppConfig& config) {
        auto& favourites = config.favoriteModels;
        const auto found = std::find(favourites.begin(), favourites.end(), id);
        if (found == favourites.end()) {
            favourites.push_back(id);
        } else {
            favourites.erase(found);
        }
    });
}

void ModelRow::useThisModel() {
    model_.editConfig([this](AppConfig& config) { useModel(config, entry_.id); });
}

void ModelRow::askRemoval() {
    auto* question = new QMessageBox(
        QMessageBox::Question, l10n("delete"),
        SettingsForm::bilingual("Удалить модель «%1» с этого компьютера? Её можно будет скачать снова.",
                                "Delete the model “%1” from this computer? It can be downloaded again.")
            .arg(qs(entry_.name)),
        QMessageBox::Yes | QMessageBox::Cancel, this);
    question->setObjectName(QStringLiteral("confirmDelete"));
    question->setDefaultButton(QMessageBox::Cancel);
    question->setAttribute(Qt::WA_DeleteOnClose);
    connect(question, &QMessageBox::finished, this, [this](int answer) {
        if (answer == QMessageBox::Yes) model_.models().remove(entry_);
    });
    question->open();
}

}  // namespace quorvel
