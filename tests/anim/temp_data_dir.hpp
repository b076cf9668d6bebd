#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace lumarok::test {

// A data directory of its own for one test, removed afterwards.
class TempDataDir {
public:
    TempDataDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumarok-anim-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        path_ = pattern;
    }
    TempDataDir(const TempDataDir&) = delete;
    TempDataDir& operator=(const TempDataDir&) = delete;
    ~TempDataDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }

    void write(const std::string& name, const std::string& text) const {
        std::ofstream out(path_ / name, std::ios::binary);
        out << text;
        ASSERT_TRUE(out.good()) << name;
    }

private:
    std::filesystem::path path_;
};

} // namespace lumarok::test
