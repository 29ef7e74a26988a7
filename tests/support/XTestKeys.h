#pragma once
// Synthetic key presses for desktop tests and benchmarks: XTest on a private X connection, with
// explicit X keycodes so left and right modifier keys can be told apart. Xlib's macros clash with
// Qt and GoogleTest, so its headers stay in the .cpp.

#include <vector>

struct _XDisplay;

namespace quorvel::testing {

_XDisplay* openInjector();  // null without an X server offering XTest
void fakeKey(_XDisplay* display, unsigned keycode, bool down);
void closeInjector(_XDisplay* display);

// Server state for checks after insertion: the keycodes that are down now, the whole keyboard
// mapping (keysyms of every keycode, in order) and whether Caps Lock is locked.
std::vector<unsigned> keysDown(_XDisplay* display);
std::vector<unsigned long> keyboardMapping(_XDisplay* display);
void setKeyboardMapping(_XDisplay* display, const std::vector<unsigned long>& mapping);
bool capsLockOn(_XDisplay* display);

}  // namespace quorvel::testing
