#pragma once
// Starting the program with the desktop session: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/com.brellun.quorvel.desktop) that runs the program.

#include <filesystem>
#include <string>

namespace quorvel::LaunchAtLogin {

std::filesystem::path entryPath();

// The entry's text for the given program (an absolute path; quoted as the entry format needs).
std::string desktopEntry(const std::filesystem::path& program);

// Writes (atomically) or removes the entry and logs the new state. Removing an absent entry is
// no error. Returns whether the entry is now in the requested state; a failure is also logged.
bool setEnabled(bool enabled, const std::filesystem::path& program);

bool isEnabled();

}  // namespace quorvel::LaunchAtLogin
