#pragma once
// Small drawn pictures for the configuration page's choice buttons: a window in the light, dark
// or system look, and the recording window in each style.

#include <QIcon>
#include <string>

namespace quorvel::PreviewPictures {

// "auto" (half light, half dark), "light" or "dark".
QIcon theme(const std::string& kind);
// "classic" (a bar with the waveform and timer), "mini" (a small pill) or "none" (nothing shown).
QIcon overlay(const std::string& kind);

}  // namespace quorvel::PreviewPictures
