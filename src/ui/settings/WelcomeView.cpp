#include "ui/settings/WelcomeView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/Icons.h"

namespace quorvel {
namespace {

QPushButton* button(const QString& text, const std::function<void()>& action) {
    auto* b = new QPushButton(text);
    QObject::connect(b, &QPushButton::clicked, b, [action] {
        if (action) action();
    });
    return b;
}

QLabel* wrapped(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

}  // namespace

WelcomeView::WelcomeView(std::function<State()> probe, const QString& recordKey, QWidget* parent)
    : QWidget(parent), probe_(std::move(probe)) {
    setWindowTitle(QStringLiteral("Добро пожаловать в Tovik"));
    setMinimumWidth(640);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 20);
    layout->setSpacing(12);

    auto* head = new QHBoxLayout;
    auto* icon = new QLabel;
    icon->setPixmap(Icons::tinted(Icons::icon(Icons::Glyph::mic), 40, palette().color(QPalette::Highlight),
                                  devicePixelRatioF()));
    head->addWidget(icon);
    auto* title = new QLabel(QStringLiteral("Tovik"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    big.setBold(true);
    title->setFont(big);
    head->addWidget(title, 1);
    layout->addLayout(head);
    layout->addWidget(wrapped(QStringLiteral("Локальная диктовка: %1 → речь → текст. Распознавание — на этом "
                                             "компьютере, наружу ничего не уходит.")
                                  .arg(recordKey)));
    auto* heading = wrapped(QStringLiteral("Три разрешения — без них части не работают"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);

    auto* grid = new QWidget;
    grid->setObjectName(QStringLiteral("welcomeRows"));
    grid->setLayout(new QGridLayout);
    layout->addWidget(grid);
    auto open = [this](SystemSettings::Permission permission) {
        return button(QStringLiteral("Открыть"), [this, permission] {
            if (onOpenSystemSettings) onOpenSystemSettings(permission);
        });
    };
    rows_[0] = addRow(QStringLiteral("Микрофон"),
                      QStringLiteral("Запись идёт через звуковой сервер (PipeWire или PulseAudio): вход выбирается в "
                                     "его настройках"),
                      open(SystemSettings::Permission::microphone));
    rows_[1] = addRow(QStringLiteral("Слушание событий (Input Monitoring)"),
                      QStringLiteral("Нужно для клавиши записи (%1): X-сервер должен поддерживать XInput 2").arg(recordKey),
                      open(SystemSettings::Permission::inputMonitoring));
    rows_[2] = addRow(QStringLiteral("Универсальный доступ"),
                      QStringLiteral("Нужен для вставки Ctrl+V (XTest; без него текст всё равно в буфере)"),
                      open(SystemSettings::Permission::accessibility));
    auto* modelButtons = new QWidget;
    auto* modelLayout = new QHBoxLayout(modelButtons);
    modelLayout->setContentsMargins(0, 0, 0, 0);
    modelLayout->addWidget(button(QStringLiteral("Модели…"), [this] {
        if (onOpenModels) onOpenModels();
    }));
    modelLayout->addWidget(button(QStringLiteral("Встроенная английская"), [this] {
        if (onUseBuiltInModel) onUseBuiltInModel();
        refresh();
    }));
    rows_[3] = addRow(QStringLiteral("Модель распознавания"), {}, modelButtons);

    layout->addWidget(wrapped(QStringLiteral("Иконка микрофона — в системном трее (обычно в углу панели задач). "
                                             "Открывайте её мышью: статус, запись без хоткея, настройки, "
                                             "разрешения.")));
    layout->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(button(QStringLiteral("Открыть настройки"), [this] {
        if (onOpenSettings) onOpenSettings();
    }));
    done_ = button(QStringLiteral("Готово"), [this] {
        if (onDone) onDone();
    });
    done_->setDefault(true);
    buttons->addWidget(done_);
    layout->addLayout(buttons);

    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &WelcomeView::refresh);
    refresh();
}

WelcomeView::Row WelcomeView::addRow(const QString& title, const QString& subtitle, QWidget* actions) {
    auto* grid = static_cast<QGridLayout*>(findChild<QWidget*>(QStringLiteral("welcomeRows"))->layout());
    const int line = grid->rowCount();
    auto* mark = new QLabel;
    mark->setFixedWidth(24);
    auto* text = new QVBoxLayout;
    auto* name = new QLabel(title);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    auto* sub = wrapped(subtitle);
    sub->setForegroundRole(QPalette::PlaceholderText);
    text->addWidget(name);
    text->addWidget(sub);
    grid->addWidget(mark, line, 0, Qt::AlignTop);
    grid->addLayout(text, line, 1);
    grid->addWidget(actions, line, 2, Qt::AlignVCenter | Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    return {mark, sub, actions};
}

void WelcomeView::setMark(const Row& row, bool granted) {
    const QIcon icon = row.mark->style()->standardIcon(granted ? QStyle::SP_DialogApplyButton
                                                               : QStyle::SP_MessageBoxWarning);
    row.mark->setPixmap(icon.pixmap(20, 20));
    row.mark->setAccessibleName(granted ? QStringLiteral("есть") : QStringLiteral("нет"));
}

void WelcomeView::refresh() {
    if (!probe_) return;
    const State state = probe_();
    // Checked every second, drawn only when something changed.
    if (state == shown_) return;
    shown_ = state;
    const bool granted[] = {state.microphone, state.listen, state.accessibility};
    for (int i = 0; i < 3; ++i) {
        setMark(rows_[i], granted[i]);
        rows_[i].actions->setVisible(!granted[i]);
    }
    setMark(rows_[3], state.modelInstalled);
    rows_[3].actions->setVisible(!state.modelInstalled);
    const QString name = QString::fromStdString(state.modelName);
    rows_[3].subtitle->setText(state.modelInstalled
                                   ? QStringLiteral("«%1» установлена и готова").arg(name)
                                   : QStringLiteral("«%1» не установлена: скачайте её на странице «Модели» или "
                                                    "возьмите встроенную английскую")
                                         .arg(name));
}

void WelcomeView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    timer_.start();
}

void WelcomeView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

// A panel, not a dialog, so the keys a dialog answers are wired here: Return presses the focused
// button, else "Готово" (drawn as the default); Esc is "Готово" too, the panel is shown once anyway.
void WelcomeView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (auto* focused = qobject_cast<QPushButton*>(focusWidget())) {
                focused->click();
            } else {
                done_->click();
            }
            return;
        case Qt::Key_Escape: done_->click(); return;
        default: QWidget::keyPressEvent(event);
    }
}

}  // namespace quorvel
