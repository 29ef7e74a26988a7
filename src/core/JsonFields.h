#pragma once
// Decoding rules shared by every JSON file of the program: a missing key or null keeps the
// default, a value of the wrong JSON type makes the whole record undecodable (DecodeError),
// unknown keys are ignored. Used only inside the core; stores catch DecodeError.

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel::json {

using Json = nlohmann::ordered_json;

struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Parses text as JSON; nothing when it is not valid JSON (or not valid UTF-8).
std::optional<Json> parse(std::string_view text);

// Compact UTF-8 text of a value. Bytes that are not UTF-8 (say, a window class name from another
// program) become U+FFFD rather than making the whole record unsavable.
std::optional<std::string> dump(const Json& value);

void requireObject(const Json& value, const char* what);

template <typename T>
struct Decoder;  // specialised below for the JSON value types the records use

template <>
struct Decoder<bool> {
    static bool decode(const Json& v, const char* key) {
        if (!v.is_boolean()) throw DecodeError(std::string(key) + ": expected a Bool");
        return v.get<bool>();
    }
};

template <>
struct Decoder<std::string> {
    static std::string decode(const Json& v, const char* key) {
        if (!v.is_string()) throw DecodeError(std::string(key) + ": expected a String");
        return v.get<std::string>();
    }
};

template <>
struct Decoder<double> {
    static double decode(const Json& v, const char* key) {
        if (!v.is_number()) throw DecodeError(std::string(key) + ": expected a number");
        return v.get<double>();
    }
};

// Whole numbers: integers, or floating-point numbers with an integral value inside the range.
template <>
struct Decoder<int64_t> {
    static int64_t decode(const Json& v, const char* key) {
        if (v.is_number_integer() && !v.is_number_unsigned()) return v.get<int64_t>();
        if (v.is_number_unsigned() && v.get<uint64_t>() <= uint64_t(std::numeric_limits<int64_t>::max()))
            return static_cast<int64_t>(v.get<uint64_t>());
        if (v.is_number_float()) {
            const double d = v.get<double>();
            if (std::trunc(d) == d && d >= -9.2e18 && d <= 9.2e18) return static_cast<int64_t>(d);
        }
        throw DecodeError(std::string(key) + ": expected an integer");
    }
};

template <>
struct Decoder<uint64_t> {
    static uint64_t decode(const Json& v, const char* key) {
        if (v.is_number_unsigned()) return v.get<uint64_t>();
        if (v.is_number_integer() && v.get<int64_t>() >= 0) return static_cast<uint64_t>(v.get<int64_t>());
        if (v.is_number_float()) {
            const double d = v.get<double>();
            if (std::trunc(d) == d && d >= 0 && d <= 1.8e19) return static_cast<uint64_t>(d);
        }
        throw DecodeError(std::string(key) + ": expected an unsigned integer");
    }
};

template <typename T>
struct Decoder<std::vector<T>> {
    static std::vector<T> decode(const Json& v, const char* key) {
        if (!v.is_array()) throw DecodeError(std::string(key) + ": expected an array");
        std::vector<T> out;
        out.reserve(v.size());
        for (const auto& item : v) out.push_back(Decoder<T>::decode(item, key));
        return out;
    }
};

// Records with a static `fromJson(const Json&)` that throws DecodeError.
template <typename T>
    requires requires(const Json& j) { T::fromJson(j); }
struct Decoder<T> {
    static T decode(const Json& v, const char*) { return T::fromJson(v); }
};

// Reads `key` into `out` when present and not null; leaves the default otherwise.
template <typename T>
void read(const Json& object, const char* key, T& out) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return;
    out = Decoder<T>::decode(*it, key);
}

template <typename T>
void read(const Json& object, const char* key, std::optional<T>& out) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return;
    out = Decoder<T>::decode(*it, key);
}

// Writes an optional member only when it holds a value.
template <typename T>
void writeOptional(Json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

}  // namespace quorvel::json
