#pragma once
// What the desktop must know about our floating windows (the pill and the recording overlay):
// they sit above other windows, on every virtual desktop, and stay out of the taskbar and pager.
// The window-type and focus hints come from Qt's own window flags; these are the rest.

#include <cstdint>

class QWindow;

namespace quorvel::FloatingWindowHints {

// Call before every show: a window manager drops these when the window is withdrawn. Does
// nothing where the platform has no such hints (offscreen). `taskbarEntry` keeps the window in
// the taskbar (the program's only window then, so it can be found).
void apply(QWindow& window, bool taskbarEntry = false);

// A compositing manager runs, so translucent pixels reach the screen (otherwise they render
// black and the caller shapes the window with a mask instead).
bool compositorActive();

// The desktop's active window (0 when unknown or without such a desktop), and a way to hand
// the keyboard focus back to it after one of our windows borrowed it.
uintptr_t activeWindow();
void activate(uintptr_t window);

}  // namespace quorvel::FloatingWindowHints
