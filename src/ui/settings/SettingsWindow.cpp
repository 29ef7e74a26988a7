#include "ui/settings/SettingsWindow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QListWidget>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>

#include "core/L10n.h"
#include "ui/settings/ConfigurationPage.h"
#include "ui/settings/HistoryPage.h"
#include "ui/settings/HomePage.h"
#include "ui/settings/ModelsPage.h"
#include "ui/settings/ModesPage.h"
#include "ui/settings/SettingsModel.h"
#include "ui/settings/SoundPage.h"
#include "ui/settings/VocabularyPage.h"

namespace quorvel {
namespace {

struct Tile {
    const char* titleKey;
    const char* iconName;  // freedesktop icon name
    QStyle::StandardPixmap fallback;
};

constexpr Tile kTiles[SettingsWindow::count] = {
    {"home", "go-home", QStyle::SP_DirHomeIcon},
    {"modes", "preferences-other", QStyle::SP_FileDialogDetailedView},
    {"vocabulary", "accessories-dictionary", QStyle::SP_FileDialogContentsView},
    {"configuration", "preferences-system", QStyle::SP_ComputerIcon},
    {"sound", "audio-volume-high", QStyle::SP_MediaVolume},
    {"models", "drive-harddisk", QStyle::SP_DriveHDIcon},
    {"history", "document-open-recent", QStyle::SP_BrowserReload},
    {"meetings", "camera-video", QStyle::SP_MediaPlay},
};

SettingsPage* makePage(int section, SettingsModel& model) {
    switch (section) {
        case SettingsWindow::home: return new HomePage(model);
        case SettingsWindow::modes: return new ModesPage(model);
        case SettingsWindow::vocabulary: return new VocabularyPage(model);
        case SettingsWindow::configuration: return new ConfigurationPage(model);
        case SettingsWindow::sound: return new SoundPage(model);
        case SettingsWindow::models: return new ModelsPage(model);
        case SettingsWindow::history: return new HistoryPage(model);
        default: return nullptr;
    }
}

}  // namespace

SettingsWindow::SettingsWindow(SettingsModel& model, std::optional<int> section) : model_(model) {
    setWindowTitle(QStringLiteral("Tovik — Настройки"));
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(820, 580);
    setMinimumSize(680, 460);
    if (section && *section >= 0 && *section < meetings) section_ = *section;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    sidebar_ = new QListWidget;
    sidebar_->setObjectName(QStringLiteral("sidebar"));
    sidebar_->setFixedWidth(200);
    sidebar_->setIconSize(QSize(18, 18));
    sidebar_->setFrameShape(QFrame::NoFrame);
    sidebar_->setSpacing(1);
    sidebar_->setStyleSheet(QStringLiteral("QListWidget#sidebar { padding-top: 10px; } "
                                           "QListWidget#sidebar::item { padding: 5px 8px; border-radius: 5px; } "
                                           "QListWidget#sidebar::item:selected { background: palette(highlight); "
                                           "color: palette(highlighted-text); }"));
    pages_ = new QStackedWidget;
    layout->addWidget(sidebar_);
    layout->addWidget(pages_, 1);
    connect(sidebar_, &QListWidget::currentRowChanged, this, &SettingsWindow::selectionChanged);
    connect(&model_, &SettingsModel::configEdited, this, &SettingsWindow::languageMayHaveChanged);
    build();
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::build() {
    builtLanguage_ = model_.config().uiLanguage;
    L10n::setLanguage(builtLanguage_);
    const QSignalBlocker quiet(sidebar_);
    sidebar_->clear();
    while (pages_->count() > 0) {
        QWidget* old = pages_->widget(0);
        pages_->removeWidget(old);
        old->deleteLater();
    }
    for (int i = 0; i < count; ++i) {
        const Tile& tile = kTiles[i];
        QString title = QString::fromStdString(L10n::t(tile.titleKey));
        if (i == meetings) title += QStringLiteral(" · ") + QString::fromStdString(L10n::t("soon"));
        auto* item = new QListWidgetItem(QIcon::fromTheme(tile.iconName, style()->standardIcon(tile.fallback)), title);
        if (i == meetings) item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
        sidebar_->addItem(item);
        SettingsPage* page = makePage(i, model_);
        pages_->addWidget(page ? static_cast<QWidget*>(page) : new QWidget);
    }
    sidebar_->setCurrentRow(section_);
    pages_->setCurrentIndex(section_);
    if (auto* shown = page(section_)) shown->pageShown();
}

void SettingsWindow::languageMayHaveChanged() {
    if (model_.config().uiLanguage == builtLanguage_) return;
    // Not now: the control that changed the language is still in its own signal.
    QTimer::singleShot(0, this, [this] {
        if (model_.config().uiLanguage != builtLanguage_) build();
    });
}

void SettingsWindow::selectionChanged(int row) {
    if (row < 0 || row >= meetings || row == section_) return;
    if (auto* left = page(section_)) left->pageHidden();
    section_ = row;
    pages_->setCurrentIndex(row);
    if (auto* shown = page(row)) shown->pageShown();
}

void SettingsWindow::present() {
    model_.reloadHistory();
    show();
    raise();
    activateWindow();
    if (auto* shown = page(section_)) shown->pageShown();
}

void SettingsWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (auto* shown = page(section_)) shown->pageHidden();
}

void SettingsWindow::showSection(int section) {
    if (section >= 0 && section < meetings) sidebar_->setCurrentRow(section);
}

int SettingsWindow::section() const { return section_; }

SettingsPage* SettingsWindow::page(int section) const {
    return qobject_cast<SettingsPage*>(pages_->widget(section));
}

std::vector<std::string> SettingsWindow::sidebarTitles() const {
    std::vector<std::string> titles;
    for (int i = 0; i < sidebar_->count(); ++i) titles.push_back(sidebar_->item(i)->text().toStdString());
    return titles;
}

}  // namespace quorvel
