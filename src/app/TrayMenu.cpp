#include "app/TrayMenu.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

#include "ui/Icons.h"

namespace quorvel {
namespace {

constexpr int kPulseMs = 700;
constexpr int kIconSide = 22;

QIcon micIcon(bool recording, double opacity) {
    const QIcon mic = Icons::icon(Icons::Glyph::mic);
    if (!recording) return mic;
    const QPixmap red = Icons::tinted(mic, kIconSide, QColor(255, 59, 48), 1.0);
    QPixmap faded(red.size());
    faded.fill(Qt::transparent);
    QPainter painter(&faded);
    painter.setOpacity(opacity);
    painter.drawPixmap(0, 0, red);
    painter.end();
    return QIcon(faded);
}

TrayMenu::Row item(std::string title, TrayMenu::Command command, bool enabled, std::string shortcut) {
    return {std::move(title), command, enabled, std::move(shortcut), {}};
}

TrayMenu::Row separator() { return item("", TrayMenu::Command::none, true, ""); }

std::string mark(bool granted) { return granted ? "✓ " : "✗ "; }

std::vector<TrayMenu::Row> permissionRows(const TrayMenu::State& state) {
    using Command = TrayMenu::Command;
    return {
        item(mark(state.microphone) + "Микрофон", Command::openMicrophoneSettings, true, ""),
        item(mark(state.listen) + "Слушание событий (хоткей)", Command::openListenSettings, true, ""),
        item(mark(state.accessibility) + "Универсальный доступ (Cmd+V)", Command::openAccessibilitySettings, true, ""),
        separator(),
        item("Запросить доступ к хоткею", Command::requestListen, true, ""),
    };
}

}  // namespace

std::vector<TrayMenu::Row> TrayMenu::rows(const State& state) {
    const std::string status = state.recording
        ? std::string("● записываю… (") + (state.toggle ? "toggle" : "push") + ")"
        : "○ готов · " + state.modelName + " · STT " + state.workerState;
    return {
        item(status, Command::none, false, ""),
        separator(),
        item("Начать запись (тест без хоткея)", Command::start, !state.recording, ""),
        item(state.toggle ? "Остановить и вставить" : "Отпустить → вставка", Command::stop, state.toggle, ""),
        item("Отмена (Esc)", Command::cancel, state.recording, ""),
        separator(),
        item("Пилюля (свернуть/развернуть)", Command::togglePill, true, ""),
        item("Показать настройки…", Command::openSettings, true, "Ctrl+,"),
        item("О программе", Command::about, true, ""),
        item("Распознать файл… (тест)", Command::recognizeFile, true, ""),
        {"Разрешения", Command::permissions, true, "", permissionRows(state)},
        item("Перезапустить STT-воркер", Command::restartWorker, true, ""),
        separator(),
        item("Выход", Command::quit, true, "Ctrl+Q"),
    };
}

TrayMenu::TrayMenu(Actions actions) : actions_(std::move(actions)), menu_(std::make_unique<QMenu>()) {
    pulseTimer_.setInterval(kPulseMs);
    connect(&pulseTimer_, &QTimer::timeout, this, &TrayMenu::pulse);
    update({});
}

TrayMenu::~TrayMenu() = default;

bool TrayMenu::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayMenu::show() {
    icon_ = std::make_unique<QSystemTrayIcon>(micIcon(false, 1.0));
    icon_->setToolTip("Tovik");
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && actions_.clicked) actions_.clicked();
    });
    icon_->show();
}

void TrayMenu::popUp() { menu_->popup(QCursor::pos()); }

void TrayMenu::update(const State& state) {
    // clear() drops the actions but not the submenus, which are the menu's children.
    for (QMenu* submenu : menu_->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) submenu->deleteLater();
    menu_->clear();
    fill(*menu_, rows(state));
}

void TrayMenu::fill(QMenu& menu, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        if (row.title.empty()) {
            menu.addSeparator();
            continue;
        }
        if (!row.submenu.empty()) {
            // Owned by the menu: cleared with it on the next rebuild.
            fill(*menu.addMenu(QString::fromStdString(row.title)), row.submenu);
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdString(row.title));
        action->setEnabled(row.enabled);
        if (!row.shortcut.empty()) action->setShortcut(QKeySequence(QString::fromStdString(row.shortcut)));
        const Command command = row.command;
        connect(action, &QAction::triggered, this, [this, command] { run(command); });
    }
}

void TrayMenu::setRecording(bool recording) {
    pulseTimer_.stop();
    dimmed_ = false;
    if (icon_) icon_->setIcon(micIcon(recording, 1.0));
    if (recording) pulseTimer_.start();
}

void TrayMenu::pulse() {
    dimmed_ = !dimmed_;
    if (icon_) icon_->setIcon(micIcon(true, dimmed_ ? 0.7 : 1.0));
}

void TrayMenu::run(Command command) const {
    const std::function<void()>* action = nullptr;
    switch (command) {
        case Command::none:
        case Command::permissions: return;
        case Command::start: action = &actions_.start; break;
        case Command::stop: action = &actions_.stop; break;
        case Command::cancel: action = &actions_.cancel; break;
        case Command::togglePill: action = &actions_.togglePill; break;
        case Command::openSettings: action = &actions_.openSettings; break;
        case Command::about: action = &actions_.about; break;
        case Command::recognizeFile: action = &actions_.recognizeFile; break;
        case Command::openMicrophoneSettings: action = &actions_.openMicrophoneSettings; break;
        case Command::openListenSettings: action = &actions_.openListenSettings; break;
        case Command::openAccessibilitySettings: action = &actions_.openAccessibilitySettings; break;
        case Command::requestListen: action = &actions_.requestListen; break;
        case Command::restartWorker: action = &actions_.restartWorker; break;
        case Command::quit: action = &actions_.quit; break;
    }
    if (*action) (*action)();
}

}  // namespace quorvel
