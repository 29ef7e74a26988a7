#pragma once
// Rules about modes that the controller applies to the configuration: which mode is active,
// whether it may be used in the application in front, and cycling to the next enabled one.

#include <optional>
#include <string>

#include "core/AppConfig.h"
#include "core/ConfigStore.h"
#include "core/DictationMode.h"

namespace quorvel::ModeRules {

// The mode named by activeModeID (enabled or not), else the first, else a fresh default mode.
DictationMode activeMode(const AppConfig& config);

// Whether `mode` may record while `frontApp` (the front application's name, if any) is in front.
bool modeAllowedHere(const DictationMode& mode, const std::optional<std::string>& frontApp);

// Makes the next enabled mode active and saves; nothing (and no save) with fewer than two
// enabled modes. Returns the newly active mode.
std::optional<DictationMode> cycleMode(ConfigStore& store);

// The pill text shown when a mode is refused in the front application.
std::string notAllowedNotice(const DictationMode& mode);

}  // namespace quorvel::ModeRules
