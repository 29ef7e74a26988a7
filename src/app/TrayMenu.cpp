#include "app/TrayMenu.h"

#include <QAction>
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

}  // namespace

std::vector<TrayMenu::Row> TrayMenu::rows(const State& state) {
    const std::string status = state.recording
        ? std::string("● записываю… (") + (state.toggle ? "toggle" : "push") + ")"
        : "○ готов · " + state.modelName + " · STT " + state.workerState;
    return {
        {status, Command::none, false, ""},
        {"", Command::none, true, ""},
        {"Начать запись (тест без хоткея)", Command::start, !state.recording, ""},
        {state.toggle ? "Остановить и вставить" : "Отпустить → вставка", Command::stop, state.toggle, ""},
        {"Отмена (Esc)", Command::cancel, state.recording, ""},
        {"", Command::none, true, ""},
        {"Пилюля (свернуть/развернуть)", Command::togglePill, true, ""},
        {"Показать настройки…", Command::openSettings, true, "Ctrl+,"},
        {"Распознать файл… (тест)", Command::recognizeFile, true, ""},
        {"Перезапустить STT-воркер", Command::restartWorker, true, ""},
        {"", Command::none, true, ""},
        {"Выход", Command::quit, true, "Ctrl+Q"},
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
    icon_->show();
}

void TrayMenu::update(const State& state) {
    menu_->clear();
    for (const Row& row : rows(state)) {
        if (row.title.empty()) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(QString::fromStdString(row.title));
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
        case Command::none: return;
        case Command::start: action = &actions_.start; break;
        case Command::stop: action = &actions_.stop; break;
        case Command::cancel: action = &actions_.cancel; break;
        case Command::togglePill: action = &actions_.togglePill; break;
        case Command::openSettings: action = &actions_.openSettings; break;
        case Command::recognizeFile: action = &actions_.recognizeFile; break;
        case Command::restartWorker: action = &actions_.restartWorker; break;
        case Command::quit: action = &actions_.quit; break;
    }
    if (*action) (*action)();
}

}  // namespace quorvel
