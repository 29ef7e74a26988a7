#include "core/AppPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace quorvel::AppPaths {
namespace {

// An XDG base folder: the variable when it holds an absolute path, else the fallback under HOME.
std::filesystem::path xdgDir(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    return homeDir() / fallbackUnderHome;
}

}  // namespace

std::filesystem::path homeDir() {
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0') return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/tmp";
}

std::filesystem::path supportDir() { return xdgDir("XDG_DATA_HOME", ".local/share") / "Quorvel"; }
std::filesystem::path configURL() { return supportDir() / "config.json"; }
std::filesystem::path vocabURL() { return supportDir() / "vocab.json"; }
std::filesystem::path historyURL() { return supportDir() / "history.jsonl"; }
std::filesystem::path statsURL() { return supportDir() / "stats.json"; }
std::filesystem::path recordingsDir() { return supportDir() / "Recordings"; }
std::filesystem::path legacyDir() { return homeDir() / "quorvel"; }
std::filesystem::path logDir() { return xdgDir("XDG_STATE_HOME", ".local/state") / "Quorvel"; }
std::filesystem::path logURL() { return logDir() / "quorvelmac.log"; }
std::filesystem::path modelsDir() { return homeDir() / "quorvelkit" / "Models"; }
std::filesystem::path autostartDir() { return xdgDir("XDG_CONFIG_HOME", ".config") / "autostart"; }

}  // namespace quorvel::AppPaths
