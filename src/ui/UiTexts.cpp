#include "ui/UiTexts.h"

#include <cmath>

namespace quorvel::UiTexts {

QString elapsedLabel(double seconds) {
    const long whole = std::isfinite(seconds) && seconds > 0 ? static_cast<long>(seconds) : 0;
    return QString::asprintf("%ld:%02ld", whole / 60, whole % 60);
}

QString keyLabel(const KeyCombo& combo) { return QString::fromStdString(combo.label()); }

QString placeholder(const QString& recordKey) { return QStringLiteral("Нажмите %1 и говорите").arg(recordKey); }
QString stopTooltip(const QString& recordKey) { return QStringLiteral("Остановить и вставить (%1)").arg(recordKey); }
QString recordTooltip(const QString& recordKey) { return QStringLiteral("Запись (%1)").arg(recordKey); }
QString modeTooltip(const QString& modeKey) { return QStringLiteral("Смена режима (%1)").arg(modeKey); }

QString copiedLogLine(const QString& text) {
    return QStringLiteral("pill: скопировано %1 байт").arg(text.toUtf8().size());
}

}  // namespace quorvel::UiTexts
