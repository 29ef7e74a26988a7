#pragma once
// Building blocks of the settings pages: titled cards, and controls bound to one configuration
// field. A bound control shows the field, writes it through SettingsModel::editConfig when the
// user changes it (one save and one notice per change), and follows edits made elsewhere. Its
// object name is the field's name, so tests and accessibility tools can find it.

#include <QString>
#include <string>
#include <utility>
#include <vector>

#include "core/AppConfig.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QFrame;
class QLabel;
class QVBoxLayout;
class QWidget;

namespace quorvel {

class SettingsModel;

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

// A text the string table does not hold, in the current interface language.
QString bilingual(const char* russian, const char* english);

}  // namespace SettingsForm
}  // namespace quorvel
