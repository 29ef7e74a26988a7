#pragma once
// Global keyboard listener on an X server. Normally it reads XInput2 raw key events (XI >= 2.1,
// which still arrive while another client grabs the keyboard) on its own Display connection and
// thread; in polling mode it compares XQueryKeymap every few milliseconds instead, for servers
// without XInput2. Keycodes become stored key codes and flag words through X11KeyMap.
// Synthetic keys of other programs (VNC servers, shared keyboards, on-screen keyboards) count like
// physical ones; the keys our own insertion posts (ownKeyEvents) are left out.

#include <chrono>
#include <memory>

#include "platform/KeyEventSource.h"

namespace quorvel {

class X11KeyListener final : public KeyEventSource {
public:
    enum class Mode { rawEvents, polling };
    struct Options {
        Mode mode = Mode::rawEvents;
        std::chrono::milliseconds pollInterval{10};
    };

    X11KeyListener();
    explicit X11KeyListener(Options options);
    ~X11KeyListener() override;
    X11KeyListener(const X11KeyListener&) = delete;
    X11KeyListener& operator=(const X11KeyListener&) = delete;

    bool isAvailable() override;
    bool start(Handler handler) override;
    void stop() override;

private:
    struct Impl;
    Options options_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel
