#pragma once
// Base of the settings window's pages: each page is built from the model in the current
// interface language (the window builds the pages anew when the language changes) and hears
// when it comes into view.

#include <QWidget>

namespace quorvel {

class SettingsModel;

class SettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit SettingsPage(SettingsModel& model, QWidget* parent = nullptr) : QWidget(parent), model_(model) {}

    // The page was selected (also when the window is shown again with it).
    virtual void pageShown() {}
    // The page was left.
    virtual void pageHidden() {}

protected:
    SettingsModel& model_;
};

}  // namespace quorvel
