#pragma once
// The pill's four looks and the window size of each.

#include <QSize>

namespace quorvel {

enum class PillState { collapsed, expanded, recording, thinking };

constexpr QSize pillSize(PillState state) {
    switch (state) {
        case PillState::expanded: return {320, 200};
        case PillState::recording:
        case PillState::thinking: return {132, 36};
        case PillState::collapsed: break;
    }
    return {120, 32};
}

// The near-black looks: the level bars are showing.
constexpr bool showsBars(PillState state) { return state == PillState::recording || state == PillState::thinking; }

}  // namespace quorvel
