#pragma once
// EWMH hints for our floating windows on Qt's own X connection. No X11 headers here.

#include <cstdint>

namespace quorvel::x11 {

// _NET_WM_DESKTOP = all desktops, _NET_WM_STATE += above, sticky, skip pager, and skip taskbar
// unless the window is to have a taskbar entry: written as properties (read by the window
// manager when it maps the window) and sent as client messages (for a window already mapped).
void applyFloatingHints(uintptr_t window, bool taskbarEntry);

// _NET_WM_CM_S<screen> has an owner.
bool compositorActive();

// The window the window manager reports as active (_NET_ACTIVE_WINDOW); 0 when unknown.
uintptr_t activeWindow();

// Asks the window manager to activate `window`, as a pager would (so focus-stealing
// prevention lets it through).
void activate(uintptr_t window);

}  // namespace quorvel::x11
