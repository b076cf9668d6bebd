#include "anim/sequence_reader.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace lumarok {
namespace {

std::string stdoutOf(const std::string& line, FlipFlags& flags) {
    testing::internal::CaptureStdout();
    try {
        readSequenceLine(line, flags);
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    return testing::internal::GetCapturedStdout();
}

template <typename Error> void expectError(const std::string& line, const std::string& text) {
    FlipFlags flags;
    try {
        readSequenceLine(line, flags);
        ADD_FAILURE() << "no error for " << line;
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), text) << line;
    }
}

TEST(ReadSequenceLine, ReadsAClip) {
    FlipFlags flags;
    const auto clip =
        readSequenceLine("2040 ('anim', {'name': '1F-2', 'from': 0, 'to': 49})", flags);
    ASSERT_TRUE(clip.has_value());
    EXPECT_EQ(clip->startMs, 2040);
    EXPECT_EQ(clip->baseName, "1F");
    EXPECT_EQ(clip->part, 2);
    EXPECT_EQ(clip->from, 0);
    EXPECT_EQ(clip->to, 49);
}

TEST(ReadSequenceLine, ToleratesTheShapesTheFormatAllows) {
    FlipFlags flags;
    // "to" closed by the brace directly, a negative start, a Windows line end,
    // blanks before the start time, base names that are longer hex-led words.
    const auto noComma =
        readSequenceLine("  -75 ('anim', {'name': '0x2b_arms-11', 'from': -3, 'to': 12})\r", flags);
    ASSERT_TRUE(noComma.has_value());
    EXPECT_EQ(noComma->startMs, -75);
    EXPECT_EQ(noComma->baseName, "0x2b_arms");
    EXPECT_EQ(noComma->part, 11);
    EXPECT_EQ(noComma->from, -3);
    EXPECT_EQ(noComma->to, 12);

    const auto trailing =
        readSequenceLine("10 ('anim', {'name': 'a-0', 'from': 4, 'to': 5, 'speed': 2})", flags);
    ASSERT_TRUE(trailing.has_value());
    EXPECT_EQ(trailing->to, 5);
}

TEST(ReadSequenceLine, IgnoresLinesWithoutStartOrKnownKeyword) {
    FlipFlags flags{true, true};
    for (const std::string line :
         {"", "# comment", "('anim', {'name': '1F-0', 'from': 0, 'to': 1})",
          "99999999999 ('anim', {'name': '1F-0', 'from': 0, 'to': 1})",
          "10 ('Anim', {'name': '1F-0', 'from': 0, 'to': 1})", "10 ('camera', {})", "10",
          "10 ('animation', {})"}) {
        EXPECT_FALSE(readSequenceLine(line, flags).has_value()) << line;
        EXPECT_TRUE(flags.vertical && flags.horizontal) << line;
    }
}

TEST(ReadSequenceLine, FlipFlagsFollowSceneLines) {
    FlipFlags flags;
    readSequenceLine("0 ('scene_options', ['flip_vertical', 'flip_horizontal'])", flags);
    EXPECT_TRUE(flags.vertical);
    EXPECT_TRUE(flags.horizontal);
    readSequenceLine("0 ('scene_options', ['flip_horizontal'])", flags);
    EXPECT_FALSE(flags.vertical) << "an option line starts from cleared flags";
    EXPECT_TRUE(flags.horizontal);
    readSequenceLine("0 ('scene_options', ['flip_diagonal', 'Flip_vertical'])", flags);
    EXPECT_FALSE(flags.vertical || flags.horizontal);
    readSequenceLine("0 ('scene_options', {'mode': 'flip_vertical'})", flags);
    EXPECT_TRUE(flags.vertical) << "any quoted word counts, wherever it stands";
    readSequenceLine("0 ('scene', {'name': 'flip_horizontal'})", flags);
    EXPECT_FALSE(flags.vertical || flags.horizontal);
    readSequenceLine("0 ('scene_options', ['flip_vertical", flags);
    EXPECT_TRUE(flags.vertical) << "the name ends with the line";
}

TEST(ReadSequenceLine, MisspeltKeysAreReportedAndValuesReadByPosition) {
    FlipFlags flags;
    EXPECT_EQ(stdoutOf("1 ('anim', {'nmae': '1F-0', 'from': 1, 'to': 2})", flags),
              "'name' expected\n");
    EXPECT_EQ(stdoutOf("1 ('anim', {'name': '1F-0', 'start': 1, 'end': 2})", flags),
              "'from' expected\n'to' expected\n");
    const auto clip = readSequenceLine("1 ('anim', {'nmae': '1F-0', 'form': 7, 'to': 8})", flags);
    ASSERT_TRUE(clip.has_value());
    EXPECT_EQ(clip->from, 7);
    EXPECT_EQ(clip->to, 8);
}

TEST(ReadSequenceLine, BadNumbersRaiseTheConversionErrors) {
    expectError<std::invalid_argument>("1 ('anim', {'name': 'G1-0', 'from': 0, 'to': 1})",
                                       "invalid stoi argument");
    expectError<std::invalid_argument>("1 ('anim', {'name': '1F-x', 'from': 0, 'to': 1})",
                                       "invalid stoi argument");
    expectError<std::invalid_argument>("1 ('anim', {'name': '1F-0', 'from': , 'to': 1})",
                                       "invalid stoi argument");
    expectError<std::invalid_argument>("1 ('anim', {'name': '1F-0', 'from': 0, 'to': })",
                                       "invalid stoi argument");
    expectError<std::invalid_argument>("1 ('anim', {'name': '1F-0', 'from': 0",
                                       "invalid stoi argument");
    expectError<std::invalid_argument>("1 ('anim'", "invalid stoi argument");
    expectError<std::out_of_range>("1 ('anim', {'name': '1F-0', 'from': 0, 'to': 2147483648})",
                                   "stoi argument out of range");
    expectError<std::out_of_range>("1 ('anim', {'name': '123456789-0', 'from': 0, 'to': 1})",
                                   "stoi argument out of range");
}

TEST(ConvertInt, FollowsStringToIntRules) {
    EXPECT_EQ(convertInt(" \t12", 10), 12);
    EXPECT_EQ(convertInt("+12xyz", 10), 12);
    EXPECT_EQ(convertInt("-2147483648", 10), -2147483648LL);
    EXPECT_EQ(convertInt("2147483647", 10), 2147483647);
    EXPECT_EQ(convertInt("1F", 16), 31);
    EXPECT_EQ(convertInt("0x1f", 16), 31);
    EXPECT_EQ(convertInt("0X", 16), 0);
    EXPECT_EQ(convertInt("0x1f", 10), 0);
    EXPECT_THROW(convertInt("", 10), std::invalid_argument);
    EXPECT_THROW(convertInt("-", 10), std::invalid_argument);
    EXPECT_THROW(convertInt(" x1", 16), std::invalid_argument);
    EXPECT_THROW(convertInt("-2147483649", 10), std::out_of_range);
    EXPECT_THROW(convertInt("99999999999999999999999", 10), std::out_of_range);
}

} // namespace
} // namespace lumarok
