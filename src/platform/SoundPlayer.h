#pragma once
// Short audible cues for the dictation life cycle: named event sounds of the freedesktop sound
// theme played through libcanberra. play() may be called from any thread and returns at once;
// the cue is decided on the main thread (profile and volume from the installed provider) and
// handed to a sound thread, so the main thread never waits for the sound system. A missing sound
// server costs nothing but one log line.

#include <functional>
#include <optional>
#include <string>

namespace quorvel::SoundPlayer {

enum class Kind { recordStart, recordStop, paste, cancel };

// The configuration's soundProfile and soundVolume.
struct Settings {
    std::string profile;
    double volume = 0.0;
};
using ConfigProvider = std::function<Settings()>;

// One decided cue. `decibels` is the gain handed to the sound system (20·log10 of the linear
// volume); absent means the theme sound's own level (no provider installed).
struct Cue {
    Kind kind;
    std::string eventID;
    std::optional<double> decibels;
};
using Output = std::function<void(const Cue&)>;

// Installed by the controller at start-up; none means every cue plays at its own level.
void setConfigProvider(ConfigProvider provider);

// Queues the cue for `kind` (any thread, returns at once); cues play in call order.
void play(Kind kind);

// The sound-theme event id for `kind`; recordStop and paste share one.
const char* eventID(Kind kind);

// The profile and volume rules: "off" plays nothing, "simple" plays at 0.4 × volume, anything
// else at volume; the result is clamped to 0..1 (not a number counts as 0). A linear volume of 0
// plays nothing at all. Without settings the cue plays at the sound's own level.
std::optional<Cue> decide(Kind kind, const std::optional<Settings>& settings);
double linearVolume(const Settings& settings);

// Where decided cues go (main thread); empty restores the libcanberra output.
void setOutput(Output output);

// Waits until every cue already handed to the sound thread has been passed to the sound system
// (tests, shutdown). Cues still waiting for the main thread are not covered.
void drain();

}  // namespace quorvel::SoundPlayer
