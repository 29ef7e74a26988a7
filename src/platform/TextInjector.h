#pragma once
// Synthetic keyboard input into whatever window has the focus: the paste shortcut, Return and
// typed text. Each key's press and release go to the display together, so a process killed at
// any moment never leaves a key held down. Calls may come from any one thread at a time (the
// paster posts from its insertion thread); the backend serialises them with its own housekeeping.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace quorvel {

class TextInjector {
public:
    virtual ~TextInjector() = default;

    // The desktop lets us post synthetic key events at all (the accessibility permission).
    virtual bool available() = 0;

    // Control+V (Control+Shift+V with `withShift`, for terminals). False when nothing was posted.
    virtual bool postPasteShortcut(bool withShift) = 0;
    // Shift+Insert: xterm's key for pasting the primary selection. False when nothing was posted.
    virtual bool postInsertSelection() = 0;
    // Return. False when nothing was posted.
    virtual bool postReturn() = 0;
    // Types `text` from the start, one Unicode scalar after another, exactly as written whatever
    // the lock state. `beforeEach` runs before every scalar (it may wait) and stops typing by
    // answering false. Returns how many leading scalars were handled (typed, or skipped as
    // untypable); it stops early, besides on request, where the next scalar would need a keycode
    // that a slow target may still have unread events for — the caller inserts the rest another
    // way. 0 when nothing can be typed at all.
    virtual std::size_t typeText(const std::u32string& text, const std::function<bool()>& beforeEach) = 0;

    // The window that got our latest key events is shown to have read them all (or is gone),
    // waiting a moment for its answer. False when that cannot be shown: it may have stalled with
    // our keys still queued.
    virtual bool latestKeysRead() = 0;

    // Some modifier key (Shift, Control, Alt, Super, …) is physically held down right now.
    virtual bool modifiersHeld() = 0;

    // The backend for the running session: X11 when the application runs on X, otherwise one
    // that is never available.
    static std::unique_ptr<TextInjector> createDefault();
};

}  // namespace quorvel
