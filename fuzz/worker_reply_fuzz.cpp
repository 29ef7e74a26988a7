// One output line of the recognition worker, on arbitrary bytes: whatever it is, the texts handed
// on (pasted into another program, written to the history) are valid UTF-8, and a reply in the
// worker's own format reads back the same.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "FuzzSupport.h"
#include "core/Unicode.h"
#include "core/WorkerReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quorvel;
    using fuzz::check;
    const WorkerReply reply = parseWorkerReply(fuzz::asText(data, size));
    check(unicode::isValidUtf8(reply.text), "a worker reply text is not valid UTF-8");
    switch (reply.kind) {
        case WorkerReply::Kind::junk:
        case WorkerReply::Kind::ready:
            check(reply.id == -1 && reply.text.empty(), "junk or ready carries an id or a text");
            return 0;
        case WorkerReply::Kind::fatal:
            check(reply.id == -1, "a fatal line carries an id");
            return 0;
        case WorkerReply::Kind::reply: break;
    }
    const std::string line = nlohmann::json{{"id", reply.id}, {"text", reply.text}}.dump();
    const WorkerReply again = parseWorkerReply(line);
    check(again.kind == WorkerReply::Kind::reply && again.id == reply.id && again.text == reply.text,
          "a reply changed in a round trip");
    return 0;
}
