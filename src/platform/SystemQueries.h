#pragma once
// Questions the program asks the desktop: permissions, the application in front, the Shift key.
// Main thread only; every answer is fresh (nothing is cached between calls).

#include <memory>
#include <optional>
#include <string>

namespace quorvel {

// Raw values as stored and compared by the rest of the program.
enum class MicrophoneAuthorization { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

class SystemQueries {
public:
    virtual ~SystemQueries() = default;

    virtual MicrophoneAuthorization microphoneAuthorization() = 0;
    // The global key listener can work (input monitoring).
    virtual bool inputMonitoringGranted() = 0;
    // Synthetic key events can be posted (accessibility).
    virtual bool accessibilityTrusted() = 0;
    // Name of the application that has the keyboard focus; nothing when there is none.
    virtual std::optional<std::string> frontApplicationName() = 0;
    virtual bool shiftHeld() = 0;

    // The backend for the running session: X11 when the application runs on X, otherwise one
    // that answers "not available" to everything but the microphone.
    static std::unique_ptr<SystemQueries> createDefault();
};

}  // namespace quorvel
