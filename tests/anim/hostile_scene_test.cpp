// Scene files that the authoring tool would never write. Run under the asan
// preset these prove that loading and sampling stay inside their arrays. Broken command
// lists and tween references are the decoder's (decoder_test.cpp).
#include "anim/animation.hpp"
#include "anim/decoder.hpp"
#include "anim/sampler.hpp"
#include "core/data_error.hpp"

#include "anim/temp_data_dir.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace lumarok {
namespace {

bool allFinite(const Frame& frame) {
    for (const Polyline& polyline : frame) {
        for (const glm::vec2& p : polyline) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
                return false;
            }
        }
    }
    return true;
}

Scene quietScene(const std::string& text) {
    std::istringstream in(text);
    testing::internal::CaptureStdout();
    Scene scene;
    try {
        scene = readScene(in);
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    testing::internal::GetCapturedStdout();
    return scene;
}

TEST(HostileScene, OffsetsAndNumbersOutsideEveryRange) {
    const Scene scene = quietScene(R"({"indices": [-1, 5, 2147483647, -2147483648,
        4294967296, 18446744073709551615, -9223372036854775808, 1e300, -1e300, 0],
        "data": [1, 208, 1, 1e300, -1e300]})");
    ASSERT_EQ(scene.frames.size(), 10u);
    for (std::size_t k = 0; k + 1 < scene.frames.size(); ++k) {
        EXPECT_TRUE(scene.frames[k].empty()) << "index " << k;
    }
    ASSERT_EQ(scene.frames.back().size(), 1u);
    EXPECT_TRUE(allFinite(scene.frames.back())) << "huge floats saturate";
}

TEST(HostileScene, DeeplyNestedJsonIsRefusedWithoutExhaustingTheStack) {
    const std::string depth(100000, '[');
    EXPECT_THROW(quietScene(depth + std::string(100000, ']')), nlohmann::json::type_error);
    EXPECT_THROW(
        quietScene(R"({"indices": [0], "data": )" + depth + std::string(100000, ']') + "}"),
        nlohmann::json::type_error);
    EXPECT_THROW(quietScene(depth), nlohmann::json::parse_error);
}

TEST(HostileScene, LoadedShowSamplesSafelyEverywhere) {
    test::TempDataDir dir;
    dir.write("split_map.json", R"({"1": [2147483000], "2": [3]})");
    dir.write("script1.json", R"({"indices": [0, 3, 99], "data": [1, 208, 40, 1, 2]})");
    dir.write("script2.json", R"({"indices": [0, 0, 0], "data": [1, 208, 2, 0, 0, 255, 255]})");
    dir.write("script3.json", R"({"indices": [], "data": []})"); // a scene without frames
    dir.write("Sequence.txt", "0 ('anim', {'name': '1-0', 'from': 0, 'to': 400})\n"
                              "0 ('anim', {'name': '2-1', 'from': -9, 'to': 9})\n"
                              "0 ('anim', {'name': '2-0', 'from': 2147483647, 'to': -2147483648})\n"
                              "0 ('anim', {'name': '3-0', 'from': 0, 'to': 5})\n"
                              "0 ('anim', {'name': '1-1', 'from': 0, 'to': 647})\n");
    testing::internal::CaptureStdout();
    const Animation animation(dir.path());
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(animation.sequence.size(), 5u);
    for (double t = -1.0; t < 20.0; t += 0.013) {
        EXPECT_TRUE(allFinite(sampleAnimation(animation, t))) << t;
    }
    for (const double t : {1e9, -1e9, 8.6e7, 1e300}) {
        EXPECT_TRUE(allFinite(sampleAnimation(animation, t))) << t;
    }
}

std::string outlineOf(int points) {
    std::string text = "208, " + std::to_string(points);
    for (int k = 0; k < points; ++k) {
        text += ", 3, 4";
    }
    return text;
}

std::string boundError(const std::string& file) {
    try {
        quietScene(file);
    } catch (const DataError& e) {
        return e.what();
    }
    return "loaded";
}

// Each bound stops loading at the frame that passes it; the demo show is far below all.
TEST(HostileScene, DecodingBoundsAreRefusedNamingTheFrame) {
    const std::string many = [] {
        std::string text = "70000";
        for (int k = 0; k < 70000; ++k) {
            text += ", 208, 0";
        }
        return text;
    }();
    EXPECT_EQ(
        boundError(R"({"indices": [0, 3], "data": [1, 208, 0, 1, )" + outlineOf(65537) + "]}"),
        "frame 1: 65537 points in one outline, more than the limit of 65536");
    EXPECT_EQ(boundError(R"({"indices": [0], "data": [1, )" + outlineOf(65536) + "]}"), "loaded");
    std::string tweens; // in-betweens of the outline at position 1 and itself
    for (int i = 3 + 2 * 60000; i < 3 + 2 * 60000 + 4 * 7; i += 7) {
        tweens += ", 230, 0, " + std::to_string(i) + ", 0, " + std::to_string(-i) + ", 1, 2";
    }
    EXPECT_EQ(boundError(R"({"indices": [0], "data": [5, )" + outlineOf(60000) + tweens + "]}"),
              "frame 0: 180003 points in one frame, more than the limit of 131072");
    EXPECT_EQ(boundError(R"({"indices": [0], "data": [)" + many + "]}"),
              "frame 0: 65537 commands in one frame, more than the limit of 65536");

    const std::vector<std::int32_t> data = {1,  208, 10, 1,  2,  3,  4,  5,  6,  7,  8, 9,
                                            10, 11,  12, 13, 14, 15, 16, 17, 18, 19, 20};
    DecodeTotals totals{kMaxDecodedPoints - 11, 0};
    EXPECT_EQ(decodeFrame(data, 0, totals).front().size(), 11u);
    try {
        decodeFrame(data, 0, totals);
        ADD_FAILURE() << "the show's points passed their bound";
    } catch (const DataError& e) {
        EXPECT_STREQ(e.what(),
                     "8388619 points in the show's scenes, more than the limit of 8388608");
    }
    totals = DecodeTotals{0, kMaxDecodedCommands};
    EXPECT_THROW(decodeFrame(data, 99, totals), DataError) << "an empty list costs one too";
}
} // namespace
} // namespace lumarok
