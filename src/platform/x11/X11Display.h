#pragma once
// A private Xlib connection for the X11 backend, opened only when the application itself runs
// on X (the xcb platform): with the offscreen platform the clipboard lives in this process, so
// synthetic keys or X queries against some other display would be meaningless.
// No X11 headers here: Display is only forward-declared.

#include <string>

struct _XDisplay;

namespace quorvel {

class X11Display {
public:
    X11Display();  // opens $DISPLAY when the application runs on xcb; otherwise stays empty
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    _XDisplay* get() const { return display_; }
    explicit operator bool() const { return display_ != nullptr; }

    // Physical key state (XQueryKeymap): any key bound to a modifier (Shift, Control, Alt,
    // Super, …) is down; or specifically a Shift key.
    bool anyModifierHeld() const;
    bool shiftHeld() const;

private:
    _XDisplay* display_ = nullptr;
};

}  // namespace quorvel
