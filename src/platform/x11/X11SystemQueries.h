#pragma once
// System queries on an X11 session, over a private connection. Without X (offscreen platform,
// no DISPLAY) every X question answers "not available".

#include <optional>
#include <string>

#include "platform/SystemQueries.h"
#include "platform/x11/X11Display.h"

namespace quorvel {

class X11SystemQueries : public SystemQueries {
public:
    X11SystemQueries() = default;

    MicrophoneAuthorization microphoneAuthorization() override;
    bool inputMonitoringGranted() override;
    bool accessibilityTrusted() override;
    std::optional<std::string> frontApplicationName() override;
    bool shiftHeld() override;

private:
    X11Display display_;
};

}  // namespace quorvel
