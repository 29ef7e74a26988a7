#pragma once
// Synthetic keyboard input into whatever window has the focus: the paste shortcut, Return and
// typed text. Blocking: each call returns after its key events are posted (hold times included).
// Main thread only.

#include <memory>
#include <string>

namespace quorvel {

class TextInjector {
public:
    virtual ~TextInjector() = default;

    // The desktop lets us post synthetic key events at all (the accessibility permission).
    virtual bool available() = 0;

    // Control+V (Control+Shift+V with `withShift`, for terminals), held 20 ms. False when nothing
    // was posted.
    virtual bool postPasteShortcut(bool withShift) = 0;
    // Return, held 15 ms. False when nothing was posted.
    virtual bool postReturn() = 0;
    // Each Unicode scalar in order: down, 8 ms, up, 2 ms. Scalars that cannot be typed are
    // skipped. False when nothing could be typed at all (no event source).
    virtual bool typeText(const std::u32string& text) = 0;

    // Some modifier key (Shift, Control, Alt, Super, …) is physically held down right now.
    virtual bool modifiersHeld() = 0;

    // The backend for the running session: X11 when the application runs on X, otherwise one
    // that is never available.
    static std::unique_ptr<TextInjector> createDefault();
};

}  // namespace quorvel
