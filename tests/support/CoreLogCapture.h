#pragma once
// Test helper: collects the core's log lines while it lives.

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/CoreLog.h"

namespace quorvel::testing {

class CoreLogCapture {
public:
    CoreLogCapture() {
        lines().clear();
        corelog::setSink(&record);
    }
    ~CoreLogCapture() { corelog::setSink(nullptr); }
    CoreLogCapture(const CoreLogCapture&) = delete;
    CoreLogCapture& operator=(const CoreLogCapture&) = delete;

    // How many lines of `level` contain `part`.
    static size_t count(corelog::Level level, std::string_view part) {
        return static_cast<size_t>(std::count_if(lines().begin(), lines().end(), [&](const auto& line) {
            return line.first == level && line.second.find(part) != std::string::npos;
        }));
    }

private:
    static std::vector<std::pair<corelog::Level, std::string>>& lines() {
        static std::vector<std::pair<corelog::Level, std::string>> instance;
        return instance;
    }
    static void record(corelog::Level level, std::string_view message) { lines().emplace_back(level, message); }
};

}  // namespace quorvel::testing
