#include "anim/data_file.hpp"
#include "core/data_error.hpp"

#include "anim/temp_data_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace lumarok {
namespace {

namespace fs = std::filesystem;

std::string refusal(const fs::path& file, std::uintmax_t limit = kMaxDataFileBytes) {
    try {
        readDataFile(file, limit);
    } catch (const DataError& e) {
        return e.what();
    }
    return "read";
}

TEST(ReadDataFile, OnlyRegularFilesWithinTheLimitAreRead) {
    const test::TempDataDir dir;
    dir.write("ten.txt", "0123456789");
    fs::create_directory(dir.path() / "folder");
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", dir.path() / "device");
    fs::create_symlink(dir.path() / "ten.txt", dir.path() / "link");

    const auto named = [&](const char* name, const char* why) {
        return (dir.path() / name).string() + ": " + why;
    };
    EXPECT_EQ(refusal(dir.path() / "folder"), named("folder", "not a regular file (a directory)"));
    EXPECT_EQ(refusal(dir.path() / "fifo"), named("fifo", "not a regular file (a FIFO)"));
    EXPECT_EQ(refusal(dir.path() / "device"), named("device", "not a regular file (a device)"));
    EXPECT_EQ(refusal(dir.path() / "ten.txt", 9),
              named("ten.txt", "10 bytes, more than the limit of 9 for a data file"));
    EXPECT_EQ(refusal(dir.path() / "ten.txt", 10), "read");
    EXPECT_EQ(readDataFile(dir.path() / "link"), "0123456789");
    EXPECT_EQ(readDataFile(dir.path() / "missing"), std::nullopt);
}

TEST(ReadDataFile, OnlyALeadingByteOrderMarkIsDropped) {
    const test::TempDataDir dir;
    dir.write("marked", "\xEF\xBB\xBF"
                        "1 1\n\xEF\xBB\xBF");
    dir.write("mark", "\xEF\xBB\xBF");
    dir.write("half", "\xEF\xBB"
                      "1");
    EXPECT_EQ(readDataFile(dir.path() / "marked"), "1 1\n\xEF\xBB\xBF");
    EXPECT_EQ(readDataFile(dir.path() / "mark"), "");
    EXPECT_EQ(readDataFile(dir.path() / "half"), "\xEF\xBB"
                                                 "1");
}

} // namespace
} // namespace lumarok
