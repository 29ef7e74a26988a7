#pragma once
// Opens the desktop's own settings at the page that fits a permission, best effort: the settings
// program of the running desktop when it is installed, else the first known one that is, else
// nothing. Never blocks (the program is started detached).

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::SystemSettings {

enum class Permission { microphone, inputMonitoring, accessibility };

struct Command {
    std::string program;
    std::vector<std::string> arguments;
    bool operator==(const Command&) const = default;
};

// `currentDesktop` is an XDG_CURRENT_DESKTOP value ("ubuntu:GNOME"); `installed` says whether a
// program is on PATH.
std::optional<Command> commandFor(Permission permission, const std::string& currentDesktop,
                                  const std::function<bool(const std::string&)>& installed);

// True when a settings program was started.
bool open(Permission permission);

}  // namespace quorvel::SystemSettings
