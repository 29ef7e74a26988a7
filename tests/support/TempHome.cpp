#include "support/TempHome.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

namespace quorvel::testing {

void TempHome::SetUp() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    home_ = tmpl;
    ::setenv("HOME", home_.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_STATE_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
}

void TempHome::TearDown() {
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
}

std::filesystem::path TempHome::writeFile(const std::filesystem::path& path, std::string_view bytes) const {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string TempHome::readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quorvel::testing
