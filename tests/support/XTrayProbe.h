#pragma once
// Looks into the X server for desktop tests: whether the XEmbed system tray (the owner of the
// _NET_SYSTEM_TRAY_S<screen> selection) exists and has taken in a window of a given process.
// Xlib's macros clash with Qt and GoogleTest, so its headers stay in the .cpp.

struct _XDisplay;

namespace quorvel::testing {

bool systemTrayPresent(_XDisplay* display);
// True when a window carrying _NET_WM_PID == pid lies inside another application's window
// (an ancestor below the root names a different WM_CLASS): where a tray embeds its icons. The
// process's own top-level windows only sit in window-manager frames, which carry no WM_CLASS.
bool windowOfProcessEmbedded(_XDisplay* display, long pid);

}  // namespace quorvel::testing
