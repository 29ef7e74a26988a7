#pragma once
// Marks the moments when our own text insertion posts synthetic key events (paste chord,
// Return, typed characters), so the hot-key listener can drop exactly those and still hear
// synthetic keys of other programs (VNC servers, shared-keyboard tools, on-screen keyboards).

#include <chrono>

namespace quorvel::ownKeyEvents {

// Around every burst of key events that our insertion posts. Nesting and calls from several
// threads are allowed.
void beginPosting();
void endPosting();

// True while a burst is being posted and for `grace` after the last one ended: the server
// delivers the events to the listener's own connection a little later.
bool active(std::chrono::milliseconds grace = std::chrono::milliseconds(300));

class Scope {
public:
    Scope() { beginPosting(); }
    ~Scope() { endPosting(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

}  // namespace quorvel::ownKeyEvents
