#include "platform/SystemSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdlib>

namespace quorvel::SystemSettings {
namespace {

struct Program {
    const char* desktop;  // XDG_CURRENT_DESKTOP token, lower case
    const char* program;
    std::array<const char*, 3> page;  // microphone, input monitoring, accessibility; "" = none
};

// In fallback order when the running desktop is unknown.
constexpr std::array<Program, 6> kPrograms = {{
    {"gnome", "gnome-control-center", {"sound", "keyboard", "universal-access"}},
    {"kde", "systemsettings", {"kcm_pulseaudio", "kcm_keys", "kcm_access"}},
    {"x-cinnamon", "cinnamon-settings", {"sound", "keyboard", "universal-access"}},
    {"xfce", "xfce4-settings-manager", {"", "", ""}},
    {"mate", "mate-control-center", {"", "", ""}},
    {"lxqt", "lxqt-config", {"", "", ""}},
}};

Command commandOf(const Program& entry, Permission permission) {
    Command command{entry.program, {}};
    const char* page = entry.page[static_cast<size_t>(permission)];
    if (*page) command.arguments.emplace_back(page);
    return command;
}

}  // namespace

std::optional<Command> commandFor(Permission permission, const std::string& currentDesktop,
                                  const std::function<bool(const std::string&)>& installed) {
    const QStringList tokens =
        QString::fromStdString(currentDesktop).toLower().split(':', Qt::SkipEmptyParts);
    for (const Program& entry : kPrograms)
        if (tokens.contains(QLatin1String(entry.desktop)) && installed(entry.program))
            return commandOf(entry, permission);
    for (const Program& entry : kPrograms)
        if (installed(entry.program)) return commandOf(entry, permission);
    return std::nullopt;
}

bool open(Permission permission) {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    const auto command =
        commandFor(permission, desktop ? desktop : "", [](const std::string& program) {
            return !QStandardPaths::findExecutable(QString::fromStdString(program)).isEmpty();
        });
    if (!command) return false;
    QStringList arguments;
    for (const auto& argument : command->arguments) arguments << QString::fromStdString(argument);
    return QProcess::startDetached(QString::fromStdString(command->program), arguments);
}

}  // namespace quorvel::SystemSettings
