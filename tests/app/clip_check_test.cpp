#include "app/clip_check.hpp"

#include "anim/animation.hpp"
#include "anim/data_error.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace lumarok {
namespace {

// Scenes by base name: "A" has 10 frames, "E" none (as when its file is missing).
Animation animationOf(const std::string& sequence) {
    std::istringstream text(sequence);
    const AnimationSource source{text, "Seq.txt", nullptr, "split.json",
                                 [](const std::string& baseName) {
                                     Scene scene;
                                     if (baseName == "A") {
                                         scene.frames.resize(10);
                                     }
                                     return scene;
                                 }};
    return Animation(source);
}

std::string errorOf(const Animation& animation) {
    try {
        checkClipRanges(animation, "Seq.txt");
    } catch (const DataError& e) {
        return e.what();
    }
    return {};
}

TEST(ClipCheck, ClipsInsideTheirScenesPass) {
    const Animation animation = animationOf("0 ('anim', {'name': 'A-0', 'from': 0, 'to': 9})\n"
                                            "500 ('anim', {'name': 'A-0', 'from': 9, 'to': 0})\n"
                                            "900 ('anim', {'name': 'A-0', 'from': 4, 'to': 4})\n");
    EXPECT_EQ(errorOf(animation), "");
    EXPECT_EQ(errorOf(animationOf("")), "");
}

TEST(ClipCheck, ClipPastTheLastFrameNamesTheClipAndItsStart) {
    const Animation animation =
        animationOf("0 ('anim', {'name': 'A-0', 'from': 0, 'to': 9})\n"
                    "2040 ('anim', {'name': 'A-0', 'from': 10, 'to': 5})\n");
    EXPECT_EQ(errorOf(animation),
              "Seq.txt: clip 2 (start 2040 ms) plays frames 10..5 of a scene with 10 frames");
}

TEST(ClipCheck, NegativeFramesAndMissingScenesAreRefused) {
    EXPECT_NE(errorOf(animationOf("0 ('anim', {'name': 'A-0', 'from': -1, 'to': 3})\n")), "");
    EXPECT_EQ(errorOf(animationOf("100 ('anim', {'name': 'E-0', 'from': 0, 'to': 0})\n")),
              "Seq.txt: clip 1 (start 100 ms) plays frames 0..0 of a scene with 0 frames "
              "(is its scene file missing?)");
}

} // namespace
} // namespace lumarok
