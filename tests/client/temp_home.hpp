// A private, empty home folder for the length of one test; removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvela::test {

class TempHome {
public:
    TempHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orvela-home-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempHome() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempHome(const TempHome&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path tokenPath() const { return path_ / ".config/orvela/token"; }
    // Writes `bytes` at `relative` inside the home, creating folders as needed.
    void put(const std::filesystem::path& relative, std::string_view bytes) const {
        std::filesystem::create_directories((path_ / relative).parent_path());
        std::ofstream(path_ / relative, std::ios::binary) << bytes;
    }
    void putToken(std::string_view bytes) const { put(".config/orvela/token", bytes); }
    // The bytes of `file` (empty when it cannot be read).
    static std::string read(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    std::filesystem::path path_;
};

}  // namespace orvela::test
