#pragma once
// Texts the floating windows compose: elapsed-time labels, key names as a Linux user reads them
// (Super, Alt, Ctrl, Shift) and the pill's key-dependent texts. One place, so the labels read
// the same in every window.

#include <QString>

#include "core/KeyCombo.h"

namespace quorvel::UiTexts {

// "m:ss" of whole seconds, truncated: 65.9 → "1:05". Negative times read "0:00".
QString elapsedLabel(double seconds);

// "правый Super" for the right Super key alone, "Alt+Super+K" for ⌥⌘K.
QString keyLabel(const KeyCombo& combo);

QString placeholder(const QString& recordKey);    // "Нажмите <key> и говорите"
QString stopTooltip(const QString& recordKey);    // "Остановить и вставить (<key>)"
QString recordTooltip(const QString& recordKey);  // "Запись (<key>)"
QString modeTooltip(const QString& modeKey);      // "Смена режима (<key>)"

// The log line of a copy: the text's size in UTF-8 bytes.
QString copiedLogLine(const QString& text);

}  // namespace quorvel::UiTexts
