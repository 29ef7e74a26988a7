#include "core/WorkerReply.h"

#include <nlohmann/json.hpp>

namespace quorvel {

WorkerReply parseWorkerReply(std::string_view line) {
    const auto parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return {};
    if (const auto ready = parsed.find("ready"); ready != parsed.end() && ready->is_boolean() && ready->get<bool>())
        return {WorkerReply::Kind::ready, -1, ""};
    if (const auto fatal = parsed.find("fatal"); fatal != parsed.end() && fatal->is_string())
        return {WorkerReply::Kind::fatal, -1, fatal->get<std::string>()};
    WorkerReply reply{WorkerReply::Kind::reply, -1, ""};
    if (const auto id = parsed.find("id"); id != parsed.end() && id->is_number_integer()) reply.id = id->get<int64_t>();
    if (const auto text = parsed.find("text"); text != parsed.end() && text->is_string()) reply.text = text->get<std::string>();
    return reply;
}

}  // namespace quorvel
