#include "core/LocalTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace quorvel::localtime {

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string format(double secondsSince1970) {
    const auto whole = static_cast<std::time_t>(std::floor(secondsSince1970));
    std::tm parts{};
    ::localtime_r(&whole, &parts);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &parts);
    return buffer;
}

std::string formatWithMillis(double secondsSince1970) {
    const double whole = std::floor(secondsSince1970);
    const auto millis = std::clamp(static_cast<int>((secondsSince1970 - whole) * 1000.0), 0, 999);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%03d", millis);
    return format(whole) + suffix;
}

}  // namespace quorvel::localtime
