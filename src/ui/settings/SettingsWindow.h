#pragma once
// The settings window: a sidebar of pages (Home, Modes, Vocabulary, Configuration, Sound, Models,
// History, and the coming Meetings) beside the selected page. Texts follow the configuration's
// interface language; changing it rebuilds the pages. Closing the window only hides it.

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

class QListWidget;
class QStackedWidget;

namespace quorvel {

class SettingsModel;
class SettingsPage;

class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    enum Section { home = 0, modes, vocabulary, configuration, sound, models, history, meetings, count };

    explicit SettingsWindow(SettingsModel& model, std::optional<int> section = std::nullopt);
    ~SettingsWindow() override;

    // Reloads the history and brings the window forward, activated.
    void present();
    void showSection(int section);
    int section() const;
    SettingsPage* page(int section) const;
    // The sidebar's titles, in order (for checks of the language).
    std::vector<std::string> sidebarTitles() const;

protected:
    // Closing the window only hides it: the shown page stops its timers until it comes back.
    void hideEvent(QHideEvent* event) override;

private:
    void build();
    void languageMayHaveChanged();
    void selectionChanged(int row);

    SettingsModel& model_;
    QListWidget* sidebar_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    std::string builtLanguage_;
    int section_ = home;
};

}  // namespace quorvel
