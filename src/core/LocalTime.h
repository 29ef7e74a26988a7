#pragma once
// Machine times (seconds since 1970 as doubles) and their local wall-clock texts.

#include <string>

namespace quorvel::localtime {

// Seconds since 1970-01-01 UTC, with sub-second precision.
double nowSeconds();

// "yyyy-MM-dd HH:mm:ss" in the local time zone.
std::string format(double secondsSince1970);

// "yyyy-MM-dd HH:mm:ss.SSS" in the local time zone (log lines).
std::string formatWithMillis(double secondsSince1970);

}  // namespace quorvel::localtime
