#pragma once
// The one place where the program's folders and file locations are computed. Everything is
// derived from HOME and the XDG_* variables at the time of the call (nothing is created here),
// so a test can point the whole program at a temporary folder.

#include <filesystem>

namespace quorvel::AppPaths {

std::filesystem::path homeDir();          // $HOME, else the password database
std::filesystem::path supportDir();       // $XDG_DATA_HOME/Quorvel (~/.local/share/Quorvel)
std::filesystem::path configURL();        // supportDir/config.json
std::filesystem::path vocabURL();         // supportDir/vocab.json
std::filesystem::path historyURL();       // supportDir/history.jsonl
std::filesystem::path statsURL();         // supportDir/stats.json
std::filesystem::path recordingsDir();    // supportDir/Recordings
std::filesystem::path legacyDir();        // ~/quorvel (the earlier generation's working folder)
std::filesystem::path logDir();           // $XDG_STATE_HOME/Quorvel (~/.local/state/Quorvel)
std::filesystem::path logURL();           // logDir/quorvelmac.log
std::filesystem::path modelsDir();        // ~/quorvelkit/Models
std::filesystem::path autostartDir();     // $XDG_CONFIG_HOME/autostart (~/.config/autostart)

}  // namespace quorvel::AppPaths
