#pragma once
// The controller's smaller services, offered to the tray menu and the settings window: the About
// box, the local update check, launch at login, the typing-speed test and copying the statistics.
// The texts and figures are plain functions, the dialogs thin wrappers over them. Main thread.

#include <filesystem>
#include <string>

class QWidget;

namespace quorvel {

struct AppConfig;
class ConfigStore;
class HistoryStore;
class StatsStore;

namespace AppServices {

// The About box's text: what the program is, its keys (as a person reads them), where its data lives.
std::string aboutText(const AppConfig& config);
void showAbout(const AppConfig& config, QWidget* parent = nullptr);

// Compares the "latest" of the local manifest (nothing is fetched) with `version`.
std::string updateCheckText(const std::filesystem::path& manifest, const std::string& version);
std::string checkForUpdates();

// Writes or removes the desktop's autostart entry for this program; returns the requested state.
bool setLaunchOnLogin(bool enabled);

inline constexpr const char* kTypingPhrase = "быстрая коричневая лиса прыгает через ленивого пса";
struct TypingScore {
    double wpm = 0, accuracy = 0, adjusted = 0;
};
// Words per minute of `typed` over `seconds`, word-by-word accuracy against the phrase.
TypingScore scoreTyping(const std::string& typed, double seconds);
// Asks the user to type the phrase, stores the adjusted speed above 5 WPM as `typedWPM` and shows
// the result. Cancelling changes nothing.
void runTypingTest(ConfigStore& config, QWidget* parent = nullptr);

// Puts the statistics summary (over the latest 500 dictations) on the clipboard and shows it.
void shareStats(const StatsStore& stats, const HistoryStore& history, QWidget* parent = nullptr);

}  // namespace AppServices
}  // namespace quorvel
