#pragma once
// A keyboard listener backend for the global hot keys. It only listens: events still reach the
// focused application. Events carry the stored key codes and flag word of KeyCombo, whatever the
// backend's own numbering, and arrive on the listener's own thread.

#include <cstdint>
#include <functional>
#include <memory>

namespace quorvel {

struct KeyEvent {
    enum class Type { keyDown, flagsChanged };
    Type type = Type::keyDown;
    int64_t keyCode = 0;  // for flagsChanged: the modifier key that changed
    uint64_t flags = 0;   // mask bits and side bits of the modifiers held after the event

    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

class KeyEventSource {
public:
    using Handler = std::function<void(const KeyEvent&)>;

    virtual ~KeyEventSource() = default;

    // Whether start() can succeed on this session (e.g. an X server with the needed extension).
    virtual bool isAvailable() = 0;
    // Starts delivering events to `handler` on the listener's thread; false when it cannot
    // (or is already running). The handler must not call stop().
    virtual bool start(Handler handler) = 0;
    // Stops and waits until the handler is no longer running; safe to call when not started.
    virtual void stop() = 0;
};

// Which backend the hot keys use: the event listener proper, or the polling fallback used when
// the listener cannot be created.
enum class KeySourceKind { listener, polling };

// The backends of this desktop.
std::unique_ptr<KeyEventSource> makeKeyEventSource(KeySourceKind kind);

}  // namespace quorvel
