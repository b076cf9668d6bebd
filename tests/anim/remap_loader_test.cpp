#include "anim/remap_loader.hpp"
#include "core/data_error.hpp"

#include "anim/temp_data_dir.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace lumarok {
namespace {

TEST(LoadRemapTable, ConvertsFrameNumbersToSeconds) {
    const RemapTable table = loadRemapTable(test::sourceDir() + "/tests/data/anim/basic/remap.txt");
    ASSERT_EQ(table.size(), 2u);
    EXPECT_DOUBLE_EQ(table[0].first, 0.0);
    EXPECT_DOUBLE_EQ(table[0].second, 0.0);
    EXPECT_DOUBLE_EQ(table[1].first, 1.0);
    EXPECT_DOUBLE_EQ(table[1].second, 2.0);
}

TEST(LoadRemapTable, KeepsFileOrderAndIgnoresTheRestOfALine) {
    std::istringstream text("121 61 trailing words\n\t-59  1\r\n3 3");
    const RemapTable table = readRemapTable(text, "remap.txt");
    ASSERT_EQ(table.size(), 3u);
    EXPECT_DOUBLE_EQ(table[0].first, 2.0);
    EXPECT_DOUBLE_EQ(table[0].second, 1.0);
    EXPECT_DOUBLE_EQ(table[1].first, -1.0);
    EXPECT_DOUBLE_EQ(table[2].second, 2.0 / 60.0);
}

TEST(LoadRemapTable, LinesWithoutTwoIntegersAreReportedNotInvented) {
    std::istringstream text("1 1\n61\n\n  \nx 5\n99999999999 1\n121 121\n");
    testing::internal::CaptureStdout();
    const RemapTable table = readRemapTable(text, "remap.txt");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "remap.txt:2: two integers expected\n"
                                                      "remap.txt:5: two integers expected\n"
                                                      "remap.txt:6: two integers expected\n");
    ASSERT_EQ(table.size(), 2u);
    EXPECT_DOUBLE_EQ(table[1].first, 2.0);
}

TEST(LoadRemapTable, ACorruptFileShowsAFewMessagesThenACount) {
    std::string lines;
    for (int k = 0; k < 1000; ++k) {
        lines += "garbage\n";
    }
    std::istringstream text(lines + "61 61\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(readRemapTable(text, "remap.txt").size(), 1u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "remap.txt:1: two integers expected\n"
                                                      "remap.txt:2: two integers expected\n"
                                                      "remap.txt:3: two integers expected\n"
                                                      "remap.txt:4: two integers expected\n"
                                                      "remap.txt:5: two integers expected\n"
                                                      "remap.txt: 995 more messages like these "
                                                      "not shown\n");

    // Not one row left is an error, not an identity remap.
    test::TempDataDir dir;
    dir.write("remap.txt", "\xEF\xBB\xBF\n1,1\n");
    testing::internal::CaptureStdout();
    EXPECT_THROW(loadRemapTable(dir.path() / "remap.txt"), DataError);
    testing::internal::GetCapturedStdout();
}

TEST(LoadRemapTable, MissingFileGivesAnEmptyTable) {
    test::TempDataDir dir;
    EXPECT_TRUE(loadRemapTable(dir.path() / "remap.txt").empty());
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const RemapTable fromWorkingDir = loadRemapTable();
    std::filesystem::create_directory("data");
    dir.write("data/remap.txt", "61 61\n");
    const RemapTable written = loadRemapTable();
    std::filesystem::current_path(previous);
    EXPECT_TRUE(fromWorkingDir.empty());
    ASSERT_EQ(written.size(), 1u);
    EXPECT_DOUBLE_EQ(written[0].first, 1.0);
}

} // namespace
} // namespace lumarok
