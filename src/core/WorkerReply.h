#pragma once
// What one output line of the recognition worker means. The worker is another process, so its
// lines are untrusted: anything that is not a JSON object is junk, and the texts handed on are
// always valid UTF-8 (JSON parsing refuses anything else).

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

struct WorkerReply {
    enum class Kind { ready, fatal, reply, junk };
    Kind kind = Kind::junk;
    int64_t id = -1;   // reply only: the request it answers, -1 when missing or not an integer
    std::string text;  // reply: the recognised text ("" when missing); fatal: the reason
};

// {"ready":true} → ready; {"fatal":"…"} → fatal; any other object → reply(id, text).
WorkerReply parseWorkerReply(std::string_view line);

}  // namespace quorvel
