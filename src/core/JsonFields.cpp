#include "core/JsonFields.h"

namespace quorvel::json {

std::optional<Json> parse(std::string_view text) {
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

std::optional<std::string> dump(const Json& value) {
    try {
        return value.dump(-1, ' ', false, Json::error_handler_t::replace);
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

void requireObject(const Json& value, const char* what) {
    if (!value.is_object()) throw DecodeError(std::string(what) + ": expected an object");
}

}  // namespace quorvel::json
