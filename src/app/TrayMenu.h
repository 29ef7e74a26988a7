#pragma once
// The tray icon and its menu. The rows come from a plain state value through a pure function
// (rows()), so titles and enabled flags are testable without a tray; the widget side only turns
// rows into actions. While recording the icon is a red microphone whose opacity alternates
// 0.7/1.0 every 0.7 s. Main thread only.

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMenu;
class QSystemTrayIcon;

namespace quorvel {

class TrayMenu : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> start, stop, cancel, togglePill, openSettings, about, recognizeFile, restartWorker, quit;
        // The permission rows open the desktop's settings for that permission.
        std::function<void()> openMicrophoneSettings, openListenSettings, openAccessibilitySettings, requestListen;
        // A left click on the icon.
        std::function<void()> clicked;
    };
    struct State {
        bool recording = false;
        bool toggle = false;  // the recording is hands-free
        std::string modelName;
        std::string workerState;  // "stopped", "starting", "ready", "failed", or "?"
        bool microphone = false, listen = false, accessibility = false;  // permissions granted
    };
    enum class Command {
        none, start, stop, cancel, togglePill, openSettings, about, recognizeFile, permissions, restartWorker, quit,
        openMicrophoneSettings, openListenSettings, openAccessibilitySettings, requestListen
    };
    struct Row {
        std::string title;  // empty: a separator
        Command command = Command::none;
        bool enabled = true;
        std::string shortcut;
        std::vector<Row> submenu;
        friend bool operator==(const Row&, const Row&) = default;
    };

    static std::vector<Row> rows(const State& state);

    explicit TrayMenu(Actions actions);
    ~TrayMenu() override;

    // A system tray exists on this desktop.
    bool available() const;
    void show();
    void update(const State& state);
    void setRecording(bool recording);
    // The same menu, for where the tray is missing (the pill's right click).
    QMenu& menu() { return *menu_; }
    // Pops the menu up at the pointer (a left click when clicks do not record).
    void popUp();

private:
    void fill(QMenu& menu, const std::vector<Row>& rows);
    void run(Command command) const;
    void pulse();

    Actions actions_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QTimer pulseTimer_;
    bool dimmed_ = false;
};

}  // namespace quorvel
