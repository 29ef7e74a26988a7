// The X11 backends without an X server and the settings-program choice.
#include <QGuiApplication>
#include <gtest/gtest.h>

#include "platform/SystemQueries.h"
#include "platform/SystemSettings.h"
#include "platform/TextInjector.h"
#include "platform/x11/X11TextInjector.h"

namespace quorvel {
namespace {

TEST(SystemQueriesTest, WithoutAnXServerEveryDesktopQuestionSaysNotAvailable) {
    ASSERT_NE(QGuiApplication::platformName(), "xcb") << "run with QT_QPA_PLATFORM=offscreen";
    auto queries = SystemQueries::createDefault();
    EXPECT_FALSE(queries->inputMonitoringGranted());
    EXPECT_FALSE(queries->accessibilityTrusted());
    EXPECT_EQ(queries->frontApplicationName(), std::nullopt);
    EXPECT_FALSE(queries->shiftHeld());
    EXPECT_EQ(queries->microphoneAuthorization(), MicrophoneAuthorization::authorized)
        << "no per-application microphone permission exists here";

    auto injector = TextInjector::createDefault();
    EXPECT_FALSE(injector->available());
    EXPECT_FALSE(injector->postPasteShortcut(false));
    EXPECT_FALSE(injector->postReturn());
    EXPECT_EQ(injector->typeText(U"да", [] { return true; }), 0u);
    EXPECT_FALSE(injector->modifiersHeld());
}

TEST(SystemSettingsTest, PicksTheRunningDesktopsProgramElseTheFirstInstalled) {
    using SystemSettings::Command;
    using SystemSettings::Permission;
    const std::function<bool(const std::string&)> all = [](const std::string&) { return true; },
                                                  none = [](const std::string&) { return false; },
                                                  gnomeOnly = [](const std::string& p) { return p == "gnome-control-center"; };
    struct Row { Permission permission; const char* desktop; std::function<bool(const std::string&)> installed; std::optional<Command> expected; };
    const Row rows[] = {
        {Permission::microphone, "ubuntu:GNOME", all, Command{"gnome-control-center", {"sound"}}},
        {Permission::accessibility, "KDE", all, Command{"systemsettings", {"kcm_access"}}},
        {Permission::inputMonitoring, "XFCE", all, Command{"xfce4-settings-manager", {}}},
        {Permission::microphone, "KDE", gnomeOnly, Command{"gnome-control-center", {"sound"}}},  // any installed one
        {Permission::microphone, "", none, std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(SystemSettings::commandFor(row.permission, row.desktop, row.installed), row.expected) << row.desktop;
}

}  // namespace
}  // namespace quorvel
