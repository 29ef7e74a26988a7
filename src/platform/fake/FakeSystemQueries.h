#pragma once
// Scriptable stand-in for the desktop queries.

#include <optional>
#include <string>

#include "platform/SystemQueries.h"

namespace quorvel {

class FakeSystemQueries : public SystemQueries {
public:
    MicrophoneAuthorization microphone = MicrophoneAuthorization::authorized;
    bool inputMonitoring = true;
    bool accessibility = true;
    std::optional<std::string> frontApplication;
    bool shift = false;

    MicrophoneAuthorization microphoneAuthorization() override { return microphone; }
    bool inputMonitoringGranted() override { return inputMonitoring; }
    bool accessibilityTrusted() override { return accessibility; }
    std::optional<std::string> frontApplicationName() override { return frontApplication; }
    bool shiftHeld() override { return shift; }
};

}  // namespace quorvel
