#pragma once
// What the punctuation and translation requests share: one non-streaming "generate" POST to the
// local language-model server, its deadline, and the only member of the answer we rely on
// ("response"). The answer always comes back on the main thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/JsonFields.h"

namespace quorvel::OllamaClient {

struct Answer {
    // The string member "response"; nothing on a transport error, a time-out, an answer that is
    // not a JSON object or one without a string "response" (e.g. only an "error" member).
    std::optional<std::string> response;
    // Whole milliseconds from just before sending until the answer reached the main thread.
    int64_t elapsedMs = 0;
};
using AnswerHandler = std::function<void(Answer)>;

// True for an absolute http or https URL with a host: the only kind of address we send to.
bool isUsableUrl(std::string_view url);

// The five-member request body: model, prompt, no streaming, no reasoning section, and
// deterministic options that cap the answer at 512 tokens.
json::Json generateBody(const std::string& model, const std::string& prompt);

// The "response" string of an answer body, or nothing.
std::optional<std::string> responseOf(std::string_view data);

// Sends `body` to `url` and calls `done` exactly once, later, on the main thread; `timeout` bounds
// the whole exchange. Safe to call from any thread. Returns false, sends nothing and never calls
// `done` when the URL is not usable.
bool generate(const std::string& url, const json::Json& body, std::chrono::milliseconds timeout,
              AnswerHandler done);

}  // namespace quorvel::OllamaClient
