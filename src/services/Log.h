#pragma once
// The program log: one line per call in the log file, "yyyy-MM-dd HH:mm:ss.SSS LEVEL: message",
// written off the caller's thread in call order, and a copy of the message in the system log
// (syslog, ident "com.brellun.quorvel"). Never blocks on disk, never reports a failure.

#include <filesystem>
#include <string>

namespace quorvel::Log {

void write(const std::string& level, const std::string& message);
void info(const std::string& message);
void warn(const std::string& message);
void error(const std::string& message);

// Waits until every line logged so far is in the file (shutdown, tests).
void flush();

// The log file; decided on first use from the user's state folder.
std::filesystem::path file();
// Points the log at another file from now on (headless runs and tests).
void setFile(const std::filesystem::path& path);

}  // namespace quorvel::Log
