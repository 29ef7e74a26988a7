#pragma once
// A temporary HOME for one benchmark (and the programs it starts), removed afterwards; the
// previous HOME and XDG folders come back when it goes.

#include <stdlib.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>

namespace quorvel::bench {

class ScratchHome {
public:
    ScratchHome() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) != nullptr) dir_ = tmpl;
        for (const char* name : kVariables) {
            if (const char* value = ::getenv(name)) saved_[name] = value;
            ::unsetenv(name);
        }
        ::setenv("HOME", dir_.c_str(), 1);
    }
    ~ScratchHome() {
        for (const char* name : kVariables)
            saved_.count(name) ? ::setenv(name, saved_[name].c_str(), 1) : ::unsetenv(name);
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    const std::filesystem::path& dir() const { return dir_; }

private:
    static constexpr const char* kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"};
    std::filesystem::path dir_;
    std::map<std::string, std::string> saved_;
};

}  // namespace quorvel::bench
