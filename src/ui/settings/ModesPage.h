#pragma once
// The modes page of the settings window: the list of dictation modes in stored order, a button
// that creates one, and the detail of the mode the user opened.

#include <string>

#include "ui/settings/SettingsPage.h"

class QListWidget;
class QStackedWidget;

namespace quorvel {

struct AppConfig;
struct DictationMode;
class ModeDetailView;

class ModesPage : public SettingsPage {
    Q_OBJECT
public:
    explicit ModesPage(SettingsModel& model, QWidget* parent = nullptr);

    // The mode's second line in the list: language ("auto" reads "по умолчанию"), translation
    // target (none when off) and its own model, joined by " · ".
    static QString subtitle(const DictationMode& mode);
    // The mode the create button appends: a new identifier, the name "Новый режим", all else default.
    static DictationMode newMode();

    // Opens the detail of the mode with that id (nothing when there is none).
    void openMode(const std::string& id);
    // The open detail, if any.
    ModeDetailView* detail() const { return detail_; }

private:
    void fillList();
    void createMode();
    void closeDetail();

    QStackedWidget* stack_ = nullptr;
    QListWidget* list_ = nullptr;
    ModeDetailView* detail_ = nullptr;
};

}  // namespace quorvel
