#pragma once
// The application's look: "dark" and "light" are Fusion with a dark or light palette; anything
// else goes back to the desktop's own style and palette.

#include <string>

namespace quorvel::Theme {

void apply(const std::string& theme);

}  // namespace quorvel::Theme
