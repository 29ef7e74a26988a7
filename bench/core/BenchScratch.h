#pragma once
// A scratch folder for one benchmark, removed afterwards. The support folder points into it
// while it lives, so stores that create their folders never touch the real user's files.

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace quorvel::bench {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) != nullptr) dir_ = tmpl;
        if (const char* previous = ::getenv("XDG_DATA_HOME")) savedDataHome_ = previous;
        ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    }
    ~ScratchFolder() {
        savedDataHome_ ? ::setenv("XDG_DATA_HOME", savedDataHome_->c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path dir_;
    std::optional<std::string> savedDataHome_;
};

}  // namespace quorvel::bench
