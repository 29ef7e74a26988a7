#include "ui/UiTexts.h"

#include <QStringList>
#include <array>
#include <cmath>

namespace quorvel::UiTexts {
namespace {

struct ModifierName {
    uint64_t mask;
    const char* name;
};
// The order people say them in.
constexpr std::array<ModifierName, 4> kModifiers{{{KeyCombo::maskCtrl, "Ctrl"},
                                                  {KeyCombo::maskOpt, "Alt"},
                                                  {KeyCombo::maskShift, "Shift"},
                                                  {KeyCombo::maskCmd, "Super"}}};

// Side bits that mean "the right-hand key".
constexpr uint64_t kRightSides =
    KeyCombo::sideRightCmd | KeyCombo::sideRightOpt | KeyCombo::sideRightShift | KeyCombo::sideRightCtrl;

}  // namespace

QString elapsedLabel(double seconds) {
    const long whole = std::isfinite(seconds) && seconds > 0 ? static_cast<long>(seconds) : 0;
    return QString::asprintf("%ld:%02ld", whole / 60, whole % 60);
}

QString keyLabel(const KeyCombo& combo) {
    if (combo.isModifierOnly()) {
        QString name;
        for (const auto& m : kModifiers)
            if (combo.modifiers == m.mask) name = QString::fromLatin1(m.name);
        if (combo.deviceBit == 0) return name;
        return (combo.deviceBit & kRightSides) ? QStringLiteral("правый ") + name : QStringLiteral("левый ") + name;
    }
    QStringList parts;
    for (const auto& m : kModifiers)
        if (combo.modifiers & m.mask) parts << QString::fromLatin1(m.name);
    parts << QString::fromStdString(KeyCombo::keyName(combo.keyCode));
    return parts.join(QLatin1Char('+'));
}

QString placeholder(const QString& recordKey) { return QStringLiteral("Нажмите %1 и говорите").arg(recordKey); }
QString stopTooltip(const QString& recordKey) { return QStringLiteral("Остановить и вставить (%1)").arg(recordKey); }
QString recordTooltip(const QString& recordKey) { return QStringLiteral("Запись (%1)").arg(recordKey); }
QString modeTooltip(const QString& modeKey) { return QStringLiteral("Смена режима (%1)").arg(modeKey); }

QString copiedLogLine(const QString& text) {
    return QStringLiteral("pill: скопировано %1 байт").arg(text.toUtf8().size());
}

}  // namespace quorvel::UiTexts
