#include "platform/LaunchAtLogin.h"

#include <system_error>

#include "core/AppPaths.h"
#include "core/AtomicFile.h"
#include "services/Log.h"

namespace quorvel::LaunchAtLogin {
namespace {

// One argument of an Exec line: always quoted; inside the quotes ", `, $ and \ get a backslash,
// then the value's own escaping doubles every backslash, and % (field codes) is written %%.
std::string quoteExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$') {
            quoted += "\\\\";
            quoted += c;
        } else if (c == '\\') {
            quoted += "\\\\\\\\";
        } else if (c == '%') {
            quoted += "%%";
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace

std::filesystem::path entryPath() { return AppPaths::autostartDir() / "com.brellun.quorvel.desktop"; }

std::string desktopEntry(const std::filesystem::path& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tovik\n"
           "Comment=Local dictation\n"
           "Exec=" + quoteExecArgument(program.string()) + "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool setEnabled(bool enabled, const std::filesystem::path& program) {
    const std::filesystem::path path = entryPath();
    bool ok = true;
    if (enabled) {
        ok = files::createDirectories(path.parent_path()) &&
             files::writeAtomically(path, desktopEntry(program));
        Log::info("launch on login: включён");
    } else {
        files::removeFile(path);  // absent already: nothing to do
        std::error_code error;
        ok = !std::filesystem::exists(path, error);
        Log::info("launch on login: выключен");
    }
    if (!ok) Log::warn("launch on login: cannot update " + path.string());
    return ok;
}

bool isEnabled() {
    std::error_code error;
    return std::filesystem::is_regular_file(entryPath(), error);
}

}  // namespace quorvel::LaunchAtLogin
