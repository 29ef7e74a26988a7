#include "platform/TextInjector.h"

#include "platform/x11/X11TextInjector.h"

namespace quorvel {

std::unique_ptr<TextInjector> TextInjector::createDefault() {
    return std::make_unique<X11TextInjector>();
}

}  // namespace quorvel
