#include "app/Housekeeping.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include "core/AppConfig.h"
#include "core/HistoryStore.h"
#include "core/KeepPolicy.h"
#include "core/StatsStore.h"
#include "platform/SystemQueries.h"
#include "services/Log.h"

namespace quorvel::Housekeeping {

void runAutoclean(const HistoryStore& history, const std::string& keepRecordings) {
    const KeepPolicy policy = KeepPolicy::fromRaw(keepRecordings).value_or(KeepPolicy::forever);
    const auto removal = history.cleanup(policy);
    if (removal.removed >= 1) Log::info("автоочистка: удалено " + std::to_string(removal.removed) + " записей");
}

void migrateStatsIfNeeded(StatsStore& stats, const HistoryStore& history) {
    if (stats.sessionsTotal() != 0) return;
    const auto entries = history.read(100000);
    if (entries.empty()) return;
    std::vector<StatsStore::Session> sessions;
    sessions.reserve(entries.size());
    for (const auto& entry : entries) sessions.push_back({entry.words(), entry.sourceApp});
    // One write for the whole history instead of one per entry.
    stats.recordSessions(sessions);
    Log::info("статистика мигрирована из истории: " + std::to_string(entries.size()) + " записей");
}

bool wantsTaskbarEntry(const AppConfig& config, SystemQueries& system) {
    return config.showDockIcon || system.microphoneAuthorization() != MicrophoneAuthorization::authorized ||
           !system.inputMonitoringGranted() || !system.accessibilityTrusted();
}

void applyTheme(const std::string& theme) {
    // What the desktop gave us at launch, to go back to when the theme follows the system again.
    static const QString systemStyle = QApplication::style()->name();
    static const QPalette systemPalette = QApplication::palette();
    if (theme != "dark" && theme != "light") {
        QApplication::setStyle(QStyleFactory::create(systemStyle));
        QApplication::setPalette(systemPalette);
        return;
    }
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QPalette palette = QApplication::style()->standardPalette();
    if (theme == "dark") {
        const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230);
        palette.setColor(QPalette::Window, window);
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::AlternateBase, window);
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::Button, window);
        palette.setColor(QPalette::ButtonText, text);
        palette.setColor(QPalette::ToolTipBase, base);
        palette.setColor(QPalette::ToolTipText, text);
        palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
        // Secondary texts (notes, subtitles) and disabled controls must stay readable on the dark backdrop.
        palette.setColor(QPalette::PlaceholderText, QColor(160, 160, 165));
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(QPalette::Disabled, role, QColor(125, 125, 130));
        palette.setColor(QPalette::Light, QColor(70, 70, 74));
        palette.setColor(QPalette::Mid, QColor(60, 60, 64));
        palette.setColor(QPalette::HighlightedText, Qt::white);
    }
    QApplication::setPalette(palette);
}

}  // namespace quorvel::Housekeeping
