#pragma once
// Building blocks of the settings pages: titled cards, and controls bound to one configuration
// field. A bound control shows the field, writes it through SettingsModel::editConfig when the
// user changes it (one save and one notice per change), and follows edits made elsewhere. Its
// object name is the field's name, so tests and accessibility tools can find it.
//
// Object names of the controls, so a test can walk them all:
//   "<field>"          edits that configuration field;
//   "<field>:<value>"  one button of an exclusive choice (the theme previews) that stores <value>;
//                      "recordingsFolder:default" clears the optional field back to its default;
//   "<field>@<page>"   a second control for a field that another page shows too (it follows the
//                      first one both ways), e.g. "dynamicNormalization@sound";
//   "action:<key>"     does something other than edit the configuration (check for updates,
//                      launch at login, play a test sound); <key> is its text key.

#include <QIcon>
#include <QString>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/AppConfig.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QFrame;
class QLabel;
class QLineEdit;
class QSlider;
class QVBoxLayout;
class QWidget;

namespace quorvel {

class SettingsModel;
class ShortcutRow;

namespace SettingsForm {

// A scrollable page body with a large title; returns the layout to add cards to.
QVBoxLayout* pageBody(QWidget& page, const QString& title, const QString& subtitle = {});

// A rounded card with a section title; `content` is where its rows go.
QFrame* card(const QString& title, QVBoxLayout*& content);

// A secondary, wrapping note.
QLabel* note(const QString& text);

QCheckBox* toggle(SettingsModel& model, const QString& label, const char* field, bool AppConfig::*member);

using Choices = std::vector<std::pair<QString, std::string>>;  // shown text, stored value
// Unknown stored values show the first choice without changing the field.
QComboBox* picker(SettingsModel& model, const char* field, std::string AppConfig::*member, const Choices& choices);

// A label and a control on one row.
QWidget* row(const QString& label, QWidget* control);

// A page body with a large title that does not scroll itself: for pages whose main content is a
// long list with its own scroll bar (two nested scroll areas fight over the wheel and the height).
QVBoxLayout* listPageBody(QWidget& page, const QString& title);

// A row with a caption that shows the stored value and a slider over a number field: positions
// minimum..maximum, each worth `unit` of the field. The field is written when the slider comes to
// rest (not on every step of a drag). A stored value off the scale shows at the nearest end,
// unchanged. The slider carries the field's name.
using Caption = std::function<QString(double)>;
QWidget* slider(SettingsModel& model, const char* field, double AppConfig::*member, int minimum, int maximum,
                double unit, Caption caption);

// A one-line text field, written when editing finishes (Return or leaving the field). Leading and
// trailing spaces are dropped; an empty text puts the stored value back.
QLineEdit* textField(SettingsModel& model, const char* field, std::string AppConfig::*member);

// Buttons with a picture that store one value each, one of them checked ("<field>:<value>").
struct Preview {
    QString title;
    std::string value;
    QIcon picture;
};
QWidget* previews(SettingsModel& model, const char* field, std::string AppConfig::*member,
                  const std::vector<Preview>& choices);

// A picker over a yes/no field: `onText` stores true, `offText` false.
QComboBox* choice(SettingsModel& model, const char* field, bool AppConfig::*member, const QString& onText,
                  const QString& offText);

// A hot key of the configuration, with its default behind the reset button.
ShortcutRow* shortcut(SettingsModel& model, const QString& title, const char* field, KeyCombo AppConfig::*member,
                      const KeyCombo& defaultCombo);

// A text the string table does not hold, in the current interface language.
QString bilingual(const char* russian, const char* english);

}  // namespace SettingsForm
}  // namespace quorvel
