#pragma once
// Watches the keyboard of the whole session and reports the configured hot keys: the record key
// going down and up (with how long it was held), the cancel key, the next-mode key and the
// modes' own shortcuts. It only listens. Matching runs on the listener's thread against an
// immutable snapshot of the combinations, which the main thread replaces when the settings
// change; every report reaches the callbacks later, on the main thread.

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/KeyCombo.h"
#include "platform/KeyEventSource.h"

namespace quorvel {

struct ModeShortcut {
    KeyCombo combo;
    std::string modeId;  // upper-case UUID of the mode it selects
};

class HotkeyManager {
public:
    struct Snapshot {
        KeyCombo toggle = KeyCombo::defaultToggle;
        KeyCombo cancel = KeyCombo::defaultCancel;
        KeyCombo mode = KeyCombo::defaultMode;
        std::vector<ModeShortcut> modeShortcuts;
    };
    using SourceFactory = std::function<std::unique_ptr<KeyEventSource>(KeySourceKind)>;
    using Clock = std::function<double()>;  // seconds

    // Create on the main thread (deliveries run there).
    explicit HotkeyManager(SourceFactory sources = makeKeyEventSource, Clock clock = monotonicSeconds);
    ~HotkeyManager();
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;

    // Set and read on the main thread only; read when a delivery runs, not when the key arrived.
    std::function<void(const std::string&)> onModeShortcut;
    std::function<void()> onToggleDown;
    std::function<void(double)> onToggleUp;  // seconds held
    std::function<void()> onCancel;
    std::function<void()> onChangeMode;

    // Replaces the combinations; the next key event uses them. Without a call, the defaults.
    void setCombos(KeyCombo toggle, KeyCombo cancel, KeyCombo mode, std::vector<ModeShortcut> modeShortcuts);
    std::shared_ptr<const Snapshot> snapshot() const { return snapshot_.load(); }

    // Starts the keyboard listener; false (and an error in the log) when it cannot be created.
    bool startTap();
    // Starts the polling fallback; call only when startTap() failed.
    bool startGlobalMonitorFallback();
    bool hasTap() const { return tap_ != nullptr; }
    bool isListening() const { return tap_ != nullptr || fallback_ != nullptr; }

    static double monotonicSeconds();

private:
    std::unique_ptr<KeyEventSource> startSource(KeySourceKind kind);
    void handle(const KeyEvent& event);
    void handleKeyDown(int64_t keyCode, uint64_t flags);
    void handleFlagsChanged(uint64_t flags);
    void deliver(std::function<void()> HotkeyManager::*callback);
    void deliverToggleUp(double held);
    void deliverModeShortcut(std::string modeId);

    SourceFactory sources_;
    Clock clock_;
    // Deliveries are queued on this object: they are dropped once the manager is gone.
    QObject deliveryContext_;
    std::atomic<std::shared_ptr<const Snapshot>> snapshot_;
    std::unique_ptr<KeyEventSource> tap_;
    std::unique_ptr<KeyEventSource> fallback_;
    // Record-key bookkeeping, touched only on the listener's thread.
    double pressStart_ = 0;
    bool toggleDown_ = false;
};

}  // namespace quorvel
