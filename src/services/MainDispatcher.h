#pragma once
// Hands work to the main thread: always later, never inline (also when called on the main
// thread), in the order of the calls. Needs the application object to exist.

#include <functional>

class QObject;

namespace quorvel::MainDispatcher {

void dispatch(std::function<void()> block);

// Runs `block` on the main thread only while `context` still exists (a callback that holds its
// owner weakly).
void dispatch(const QObject* context, std::function<void()> block);

}  // namespace quorvel::MainDispatcher
