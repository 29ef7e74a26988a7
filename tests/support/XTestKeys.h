#pragma once
// Synthetic key presses for desktop tests and benchmarks: XTest on a private X connection, with
// explicit X keycodes so left and right modifier keys can be told apart. Xlib's macros clash with
// Qt and GoogleTest, so its headers stay in the .cpp.

struct _XDisplay;

namespace quorvel::testing {

_XDisplay* openInjector();  // null without an X server offering XTest
void fakeKey(_XDisplay* display, unsigned keycode, bool down);
void closeInjector(_XDisplay* display);

}  // namespace quorvel::testing
