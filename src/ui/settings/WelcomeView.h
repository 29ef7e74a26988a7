#pragma once
// The first-run panel: what the program needs from this desktop (microphone, key listening,
// synthetic keys) and whether the recognition model of the default mode is installed, each with
// a way to fix it. Checks are repeated every second while the panel is shown.

#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "platform/SystemSettings.h"

class QLabel;
class QPushButton;

namespace quorvel {

class WelcomeView : public QWidget {
    Q_OBJECT
public:
    struct State {
        bool microphone = false, listen = false, accessibility = false;
        std::string modelName;  // of the model the next dictation would use
        bool modelInstalled = false;
        friend bool operator==(const State&, const State&) = default;
    };

    explicit WelcomeView(std::function<State()> probe, const QString& recordKey, QWidget* parent = nullptr);

    std::function<void()> onOpenSettings, onDone, onOpenModels, onUseBuiltInModel;
    std::function<void(SystemSettings::Permission)> onOpenSystemSettings;

    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Row {
        QLabel* mark;
        QLabel* subtitle;
        QWidget* actions;
    };
    Row addRow(const QString& title, const QString& subtitle, QWidget* actions);
    static void setMark(const Row& row, bool granted);

    std::function<State()> probe_;
    std::optional<State> shown_;  // what the rows show now
    Row rows_[4];
    QTimer timer_;
    QPushButton* done_ = nullptr;
};

}  // namespace quorvel
