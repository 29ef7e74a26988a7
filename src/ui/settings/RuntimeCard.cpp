#include "ui/settings/RuntimeCard.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "services/RuntimeInstaller.h"
#include "ui/settings/SettingsForm.h"
#include "ui/settings/SettingsModel.h"

namespace quorvel {
namespace {

constexpr int kLogLines = 8;
constexpr int kKeptLogLines = 2000;

QString configuredPython(const SettingsModel& model) {
    return QString::fromStdString(model.config().pythonPath);
}

}  // namespace

RuntimeCard::RuntimeCard(SettingsModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    QVBoxLayout* content = nullptr;
    outer->addWidget(SettingsForm::card(SettingsForm::bilingual("Среда распознавания", "Speech runtime"), content));

    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("runtimeStatus"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    content->addWidget(status_);

    install_ = new QPushButton(QIcon::fromTheme(QStringLiteral("system-software-install"),
                                                style()->standardIcon(QStyle::SP_ArrowDown)),
                               SettingsForm::bilingual("Установить среду распознавания", "Install the speech runtime"));
    install_->setObjectName(QStringLiteral("installRuntime"));
    install_->setToolTip(SettingsForm::bilingual("python3 -m venv и pip install sherpa-onnx в папку программы",
                                                 "python3 -m venv and pip install sherpa-onnx in the program's folder"));
    connect(install_, &QPushButton::clicked, this, &RuntimeCard::startInstall);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(install_);
    buttons->addStretch();
    content->addLayout(buttons);

    log_ = new QPlainTextEdit;
    log_->setObjectName(QStringLiteral("runtimeLog"));
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(kKeptLogLines);
    log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    log_->setFixedHeight(log_->fontMetrics().lineSpacing() * kLogLines + 12);
    log_->hide();
    content->addWidget(log_);

    result_ = SettingsForm::note({});
    result_->setObjectName(QStringLiteral("runtimeResult"));
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    result_->hide();
    content->addWidget(result_);

    RuntimeInstaller& runtime = model_.runtime();
    connect(&runtime, &RuntimeInstaller::checked, this, &RuntimeCard::onChecked);
    connect(&runtime, &RuntimeInstaller::outputLine, log_, &QPlainTextEdit::appendPlainText);
    connect(&runtime, &RuntimeInstaller::installFinished, this, &RuntimeCard::onInstallFinished);
    connect(&model_, &SettingsModel::configEdited, this, [this] {
        if (!askedPython_.isNull() && askedPython_ != configuredPython(model_)) recheck();
    });
    hide();
    // The window rebuilt its pages (another language) while an install went on.
    if (runtime.isInstalling()) showInstalling();
}

void RuntimeCard::recheck() {
    if (model_.runtime().isInstalling()) return;
    askedPython_ = configuredPython(model_);
    model_.runtime().check(askedPython_);
}

void RuntimeCard::onChecked(const QString& python, bool available, const QString& detail) {
    if (python != configuredPython(model_) || model_.runtime().isInstalling()) return;  // an outdated answer
    if (available) {
        setVisible(installed_);
        return;
    }
    installed_ = false;
    QString text = SettingsForm::bilingual(
                       "Интерпретатор %1 не может загрузить модуль sherpa_onnx: без него скачанные модели не "
                       "распознают речь.",
                       "The interpreter %1 cannot load the sherpa_onnx module: downloaded models cannot "
                       "recognise speech without it.")
                       .arg(python);
    if (!detail.isEmpty()) text += QStringLiteral("\n") + detail;
    status_->setText(text);
    status_->show();
    install_->show();
    install_->setEnabled(true);
    show();
}

void RuntimeCard::startInstall() {
    log_->clear();
    if (model_.runtime().install()) showInstalling();
}

void RuntimeCard::showInstalling() {
    install_->setEnabled(false);
    log_->show();
    result_->setText(SettingsForm::bilingual("Устанавливается… Окно можно не закрывать и продолжать работу.",
                                             "Installing… You can keep working meanwhile."));
    result_->show();
    show();
}

void RuntimeCard::onInstallFinished(bool ok, const QString& python, const QString& error) {
    if (!ok) {
        install_->setEnabled(true);
        result_->setText(SettingsForm::bilingual("Установка не удалась, настройки не изменены.\n%1",
                                                 "The install failed; no setting was changed.\n%1")
                             .arg(error));
        return;
    }
    installed_ = true;
    status_->hide();
    install_->hide();
    result_->setText(SettingsForm::bilingual("Среда распознавания установлена: %1", "Speech runtime installed: %1")
                         .arg(python));
    model_.editConfig([&](AppConfig& config) { config.pythonPath = python.toStdString(); });
    // A worker that could not start without the module tries again with the new interpreter.
    model_.actions().restartWorker();
}

}  // namespace quorvel
