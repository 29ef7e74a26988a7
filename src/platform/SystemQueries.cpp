#include "platform/SystemQueries.h"

#include "platform/x11/X11SystemQueries.h"

namespace quorvel {

std::unique_ptr<SystemQueries> SystemQueries::createDefault() {
    return std::make_unique<X11SystemQueries>();
}

}  // namespace quorvel
