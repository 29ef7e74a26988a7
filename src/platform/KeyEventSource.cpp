#include "platform/KeyEventSource.h"

#include "platform/x11/X11KeyListener.h"

namespace quorvel {

std::unique_ptr<KeyEventSource> makeKeyEventSource(KeySourceKind kind) {
    X11KeyListener::Options options;
    options.mode = kind == KeySourceKind::polling ? X11KeyListener::Mode::polling : X11KeyListener::Mode::rawEvents;
    return std::make_unique<X11KeyListener>(options);
}

}  // namespace quorvel
