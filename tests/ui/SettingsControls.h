#pragma once
// Settings page tests work a control by its name as a person would, whatever kind it is.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>

#include "ui/settings/ShortcutRow.h"

namespace quorvel::testing {

// A key as the X server reports it: its keycode and the modifier state before it.
inline void sendXKey(QWidget* target, QEvent::Type type, unsigned xKeycode, unsigned xState = 0) {
    QKeyEvent event(type, Qt::Key_unknown, Qt::NoModifier, xKeycode, 0, xState);
    QApplication::sendEvent(target, &event);
}

// Works `widget` with `input`: a combo box picks the item with that data (else that text), a
// slider moves to it, a line takes it typed and Return, a text box takes it and loses the focus,
// a shortcut row captures it as an X keycode (without one its × is clicked), a button is clicked.
inline void operate(QWidget* widget, const QVariant& input) {
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        int index = combo->findData(input);
        if (index < 0) index = combo->findText(input.toString());
        ASSERT_GE(index, 0) << input.toString().toStdString();
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
        slider->setValue(input.toInt());
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setFocus();
        edit->selectAll();
        if (input.toString().isEmpty()) QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, input.toString());
        QTest::keyClick(edit, Qt::Key_Return);
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(widget)) {
        text->selectAll();
        text->insertPlainText(input.toString());
        QFocusEvent leave(QEvent::FocusOut);
        QApplication::sendEvent(text, &leave);
    } else if (auto* row = qobject_cast<ShortcutRow*>(widget)) {
        if (const unsigned key = input.toUInt()) {
            row->captureButton()->click();
            sendXKey(row->captureButton(), QEvent::KeyPress, key);
            sendXKey(row->captureButton(), QEvent::KeyRelease, key);
        } else {
            row->removeButton()->click();
        }
    } else {
        qobject_cast<QAbstractButton*>(widget)->click();
    }
}

}  // namespace quorvel::testing
