#include "app/AppServices.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "core/ConfigStore.h"
#include "core/HistoryStore.h"
#include "core/StatsStore.h"
#include "platform/LaunchAtLogin.h"
#include "services/Log.h"
#include "ui/UiTexts.h"

namespace quorvel::AppServices {
namespace {

// A path under the home folder as people write it ("~/...").
std::string homeRelative(const std::filesystem::path& path) {
    const QString home = QDir::homePath();
    const QString text = QString::fromStdString(path.string());
    if (!home.isEmpty() && text.startsWith(home + "/")) return ("~" + text.mid(home.size())).toStdString();
    return text.toStdString();
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) result.push_back(word);
    return result;
}

std::string format(const char* pattern, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

void showText(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, parent);
    box.addButton(QStringLiteral("Готово"), QMessageBox::AcceptRole);
    box.exec();
}

}  // namespace

std::string aboutText(const AppConfig& config) {
    return "Tovik — локальная диктовка для Linux: держите клавишу, говорите, и текст появляется в "
           "окне перед вами.\n\n"
           "Хоткей: " + UiTexts::keyLabel(config.keyToggle).toStdString() +
           " — удерживать для push-to-talk, короткий тап — toggle, " +
           UiTexts::keyLabel(config.keyCancel).toStdString() + " — отмена.\n"
           "Распознавание полностью локально.\n\n"
           "Конфиг: " + homeRelative(AppPaths::supportDir()) + "/\n"
           "Логи: " + homeRelative(AppPaths::logURL()) + "\n\n"
           // No-break spaces keep each name with its owner when the box wraps the line.
           "Модели: GigaAM (©\u00a0Sber\u00a0/ SaluteDevices, CC-BY-NC\u00a04.0), Parakeet (©\u00a0NVIDIA, "
           "CC-BY-4.0), Whisper (©\u00a0OpenAI, MIT), PocketSphinx (©\u00a0CMU, BSD-2-Clause).";
}

void showAbout(const AppConfig& config, QWidget* parent) {
    showText(parent, QStringLiteral("Tovik 2.0"), QString::fromStdString(aboutText(config)));
}

std::string updateCheckText(const std::filesystem::path& manifest, const std::string& version) {
    nlohmann::json json;
    try {
        constexpr std::uintmax_t kManifestLimit = 64 * 1024;
        const auto read = files::readLimited(manifest, kManifestLimit);
        if (read.status == files::ReadResult::Status::Read) json = nlohmann::json::parse(read.bytes);
    } catch (const nlohmann::json::exception&) {
    }
    if (!json.is_object() || !json.contains("latest") || !json["latest"].is_string())
        return "Нет данных о версиях (локальный манифест отсутствует; сеть не используется).";
    const std::string latest = json["latest"].get<std::string>();
    if (latest != version) return "Доступна версия " + latest + " (у вас " + version + "). Обновите из репозитория станции.";
    return "Tovik " + version + " — актуальная версия.";
}

std::string checkForUpdates() { return updateCheckText(AppPaths::supportDir() / "updates.json", QUORVEL_VERSION); }

bool setLaunchOnLogin(bool enabled) {
    // The program as it runs now: the installed one, or the build tree's while developing.
    const std::filesystem::path program = QApplication::applicationFilePath().toStdString();
    // The state the desktop's autostart now holds: a failed write leaves it as it was.
    return LaunchAtLogin::setEnabled(enabled, program) ? enabled : LaunchAtLogin::isEnabled();
}

TypingScore scoreTyping(const std::string& typed, double seconds) {
    const auto typedWords = words(typed);
    const auto phraseWords = words(kTypingPhrase);
    TypingScore score;
    const double minutes = seconds / 60;
    if (minutes > 0) score.wpm = static_cast<double>(typedWords.size()) / minutes;
    size_t matched = 0;
    for (size_t i = 0; i < typedWords.size() && i < phraseWords.size(); ++i)
        if (typedWords[i] == phraseWords[i]) ++matched;
    score.accuracy = static_cast<double>(matched) / static_cast<double>(std::max<size_t>(1, phraseWords.size()));
    score.adjusted = score.wpm * score.accuracy;
    return score;
}

void runTypingTest(ConfigStore& config, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Тест скорости печати"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Наберите фразу в поле ниже и нажмите ОК.\nФраза: «%1»")
                                     .arg(QString::fromUtf8(kTypingPhrase))));
    auto* field = new QLineEdit;
    field->setObjectName(QStringLiteral("typingField"));
    field->setMinimumSize(320, 24);
    layout->addWidget(field);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    buttons->addButton(QStringLiteral("Готово"), QDialogButtonBox::AcceptRole)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    QElapsedTimer clock;
    clock.start();
    if (dialog.exec() != QDialog::Accepted) return;
    const TypingScore score = scoreTyping(field->text().trimmed().toStdString(), clock.elapsed() / 1000.0);
    if (score.adjusted > 5.0) {
        config.update([&](AppConfig& c) { c.typedWPM = score.adjusted; });
        config.save();
        Log::info("скорость печати: " + format("%.0f", score.adjusted) + " WPM");
    }
    showText(parent, QStringLiteral("Результат"),
             QString::fromStdString("Скорость: " + format("%.0f", score.wpm) + " WPM, точность " +
                                    format("%.0f", score.accuracy * 100) + "% → учтено " +
                                    format("%.0f", score.adjusted) + " WPM"));
}

void shareStats(const StatsStore& stats, const HistoryStore& history, QWidget* parent) {
    const QString text = QString::fromStdString(stats.shareText(history.read(500)));
    QApplication::clipboard()->clear();
    QApplication::clipboard()->setText(text);
    showText(parent, QStringLiteral("Статистика скопирована"), text);
}

}  // namespace quorvel::AppServices
