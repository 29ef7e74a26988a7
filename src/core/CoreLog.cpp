#include "core/CoreLog.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace quorvel::corelog {
namespace {

std::atomic<Sink> currentSink{nullptr};

void toStandardError(Level level, std::string_view message) {
    const std::string line = std::string(levelName(level)) + ": " + std::string(message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void emit(Level level, std::string_view message) {
    const Sink sink = currentSink.load(std::memory_order_acquire);
    (sink ? sink : toStandardError)(level, message);
}

}  // namespace

void setSink(Sink sink) { currentSink.store(sink, std::memory_order_release); }

void info(std::string_view message) { emit(Level::Info, message); }
void warn(std::string_view message) { emit(Level::Warn, message); }
void error(std::string_view message) { emit(Level::Error, message); }

std::string_view levelName(Level level) {
    switch (level) {
        case Level::Info: return "INFO";
        case Level::Warn: return "WARN";
        case Level::Error: return "ERROR";
    }
    return "INFO";
}

}  // namespace quorvel::corelog
