#include "core/ModeRules.h"

#include <vector>

#include "core/Unicode.h"

namespace quorvel::ModeRules {

DictationMode activeMode(const AppConfig& config) {
    for (const auto& mode : config.modes)
        if (mode.id == config.activeModeID) return mode;
    if (!config.modes.empty()) return config.modes.front();
    return DictationMode{};
}

bool modeAllowedHere(const DictationMode& mode, const std::optional<std::string>& frontApp) {
    if (mode.activateApps.empty() || !frontApp || frontApp->empty()) return true;
    const std::string app = unicode::toLower(*frontApp);
    for (const auto& entry : mode.activateApps)
        if (app.find(unicode::toLower(entry)) != std::string::npos) return true;
    return false;
}

std::optional<DictationMode> cycleMode(ConfigStore& store) {
    std::vector<const DictationMode*> enabled;
    for (const auto& mode : store.config().modes)
        if (mode.enabled) enabled.push_back(&mode);
    if (enabled.size() < 2) return std::nullopt;

    size_t position = 0;
    for (size_t i = 0; i < enabled.size(); ++i) {
        if (enabled[i]->id == store.config().activeModeID) {
            position = i;
            break;
        }
    }
    DictationMode next = *enabled[(position + 1) % enabled.size()];
    store.update([&](AppConfig& config) { config.activeModeID = next.id; });
    return next;
}

std::string notAllowedNotice(const DictationMode& mode) {
    return "⚠️ Режим «" + mode.name + "» не активен в этом приложении";
}

}  // namespace quorvel::ModeRules
