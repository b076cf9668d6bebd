#include "anim/sampler.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace lumarok {
namespace {

Animation makeAnimation(std::vector<Scene> scenes, std::vector<SequenceEntry> sequence) {
    std::istringstream none;
    Animation animation(
        AnimationSource{none, "", nullptr, "", [](const std::string&) { return Scene{}; }});
    animation.scenes = std::move(scenes);
    animation.sequence = std::move(sequence);
    return animation;
}

SequenceEntry clip(double startSeconds, std::int32_t first, std::int32_t last,
                   std::int32_t scene = 0) {
    SequenceEntry entry;
    entry.startSeconds = startSeconds;
    entry.sceneIndex = scene;
    entry.firstFrame = first;
    entry.lastFrame = last;
    return entry;
}

// Frame k holds one two-point stroke at x = 100 k: neighbours always blend.
Scene slidingScene(int frames) {
    Scene scene;
    for (int k = 0; k < frames; ++k) {
        const float x = 100.0f * static_cast<float>(k);
        scene.frames.push_back({{{x, 10.0f}, {x, 20.0f}}});
    }
    return scene;
}

float firstX(const Frame& frame) {
    return frame.at(0).at(0).x;
}

TEST(SampleAnimation, ClipIsActiveStrictlyBetweenStartAndEnd) {
    const Animation animation = makeAnimation({slidingScene(20)}, {clip(1.0, 10, 12)});
    const double end = 1.0 + 3 * 0.04;
    EXPECT_TRUE(sampleAnimation(animation, 1.0).empty());
    EXPECT_TRUE(sampleAnimation(animation, end).empty());
    EXPECT_TRUE(sampleAnimation(animation, 0.5).empty());
    EXPECT_FALSE(sampleAnimation(animation, std::nextafter(1.0, 2.0)).empty());
    EXPECT_FALSE(sampleAnimation(animation, std::nextafter(end, 0.0)).empty());
    EXPECT_TRUE(sampleAnimation(animation, std::numeric_limits<double>::quiet_NaN()).empty());
}

TEST(SampleAnimation, ForwardAndBackwardClipsBlendHalfway) {
    const Animation forward = makeAnimation({slidingScene(20)}, {clip(1.0, 10, 12)});
    EXPECT_NEAR(firstX(sampleAnimation(forward, 1.02)), 1050.0f, 0.01f);
    EXPECT_NEAR(firstX(sampleAnimation(forward, 1.10)), 1250.0f, 0.01f)
        << "the last frame duration blends toward lastFrame + 1";

    const Animation backward = makeAnimation({slidingScene(20)}, {clip(1.0, 12, 10)});
    EXPECT_NEAR(firstX(sampleAnimation(backward, 1.02)), 1150.0f, 0.01f);
    EXPECT_NEAR(firstX(sampleAnimation(backward, 1.10)), 950.0f, 0.01f);

    // Ending at frame 0, positions between -1 and 0 still show frame 0 blended toward 1.
    const Animation toZero = makeAnimation({slidingScene(3)}, {clip(0.0, 2, 0)});
    EXPECT_NEAR(firstX(sampleAnimation(toZero, 0.10)), 50.0f, 0.01f);
}

TEST(SampleAnimation, HeldClipShowsItsFrameForOneDuration) {
    const Animation animation = makeAnimation({slidingScene(5)}, {clip(2.0, 3, 3)});
    EXPECT_FLOAT_EQ(firstX(sampleAnimation(animation, 2.01)), 300.0f);
    EXPECT_FLOAT_EQ(firstX(sampleAnimation(animation, 2.039)), 300.0f);
    EXPECT_TRUE(sampleAnimation(animation, 2.0401).empty());
}

TEST(SampleAnimation, LastFrameOfASceneIsNotBlended) {
    const Animation animation = makeAnimation({slidingScene(2)}, {clip(0.0, 0, 1)});
    EXPECT_FLOAT_EQ(firstX(sampleAnimation(animation, 0.06)), 100.0f);
}

TEST(SampleAnimation, TruncatesTheFramePosition) {
    // 29 * 0.04 / 0.04 lies a hair below 29: frame 28 is what shows there, at a
    // blend factor that rounds to 1 in single precision.
    Scene scene = slidingScene(31);
    const Animation blendable = makeAnimation({scene}, {clip(0.0, 0, 30)});
    EXPECT_EQ(sampleAnimation(blendable, 29 * 0.04), scene.frames[29]);
    scene.frames[29] = {{{5000.0f, 10.0f}, {5000.0f, 20.0f}}};
    const Animation jump = makeAnimation({scene}, {clip(0.0, 0, 30)});
    EXPECT_EQ(sampleAnimation(jump, 29 * 0.04), scene.frames[28]);
}

TEST(FrameAt, BlendsOnlyBelowSevenHundredUnits) {
    struct Case {
        glm::vec2 to;
        bool blended;
    };
    const Case cases[] = {{{699.9f, 0.0f}, true},
                          {{700.0f, 0.0f}, false},
                          {{420.0f, 559.9f}, true},
                          {{420.0f, 560.0f}, false}, // 700 along the diagonal
                          {{0.0f, -700.5f}, false}};
    for (const Case& c : cases) {
        Scene scene;
        scene.frames = {{{{0.0f, 0.0f}, {1.0f, 1.0f}}}, {{c.to, {1.0f, 1.0f}}}};
        const Frame frame = scene.frameAt(0.02);
        ASSERT_EQ(frame.size(), 1u);
        const glm::vec2 expected = c.blended ? c.to * 0.5f : glm::vec2(0.0f, 0.0f);
        EXPECT_NEAR(frame[0][0].x, expected.x, 0.01f) << c.to.x << "," << c.to.y;
        EXPECT_NEAR(frame[0][0].y, expected.y, 0.01f) << c.to.x << "," << c.to.y;
    }
}

TEST(FrameAt, MismatchedShapesShowFrameKUnblended) {
    Scene scene;
    const Polyline a = {{0.0f, 0.0f}, {10.0f, 0.0f}};
    const Polyline b = {{100.0f, 0.0f}, {110.0f, 0.0f}};
    const Polyline triangle = {{0.0f, 0.0f}, {5.0f, 5.0f}, {0.0f, 0.0f}};
    scene.frames = {{a, a}, {b}, {a, triangle}, {b, a}, {}};
    EXPECT_EQ(scene.frameAt(0.02), scene.frames[0]) << "different polyline counts";
    const Frame mixed = scene.frameAt(0.02 + 0.04 * 2);
    ASSERT_EQ(mixed.size(), 2u);
    EXPECT_NEAR(mixed[0][0].x, 50.0f, 0.01f) << "its neighbour still blends";
    EXPECT_EQ(mixed[1], triangle) << "different point counts";
    EXPECT_TRUE(scene.frameAt(0.02 + 0.04 * 3).size() == 2u);
    EXPECT_TRUE(scene.frameAt(0.17).empty());
}

TEST(FrameAt, OutsideTheSceneGivesNothing) {
    const Scene scene = slidingScene(3);
    EXPECT_TRUE(scene.frameAt(-0.04).empty());
    EXPECT_TRUE(scene.frameAt(-1e300).empty());
    EXPECT_TRUE(scene.frameAt(0.12).empty());
    EXPECT_TRUE(scene.frameAt(1e300).empty());
    EXPECT_TRUE(scene.frameAt(std::numeric_limits<double>::infinity()).empty());
    EXPECT_FALSE(scene.frameAt(-0.039).empty());
    EXPECT_FALSE(scene.frameAt(0.119).empty());
    EXPECT_TRUE(Scene{}.frameAt(0.0).empty());
}

TEST(SampleAnimation, ClipsReachingOutsideTheirSceneContributeNothing) {
    const Animation animation =
        makeAnimation({slidingScene(3), Scene{}},
                      {clip(0.0, 0, 5), clip(0.0, -3, -1), clip(0.0, 0, 2, 1), clip(0.0, 0, 2, 7),
                       clip(0.0, 0, 2, -1), clip(0.0, 2147483647, -2147483647 - 1)});
    EXPECT_EQ(sampleAnimation(animation, 0.06).size(), 1u);
    EXPECT_TRUE(sampleAnimation(animation, 0.14).empty());
}

TEST(SampleAnimation, FlipsMirrorAboutFourThousandNinetyFive) {
    Scene scene;
    scene.frames = {{{{0.0f, 10.0f}, {4095.0f, 4000.0f}}}};
    SequenceEntry horizontal = clip(0.0, 0, 0);
    horizontal.flipHorizontal = true;
    SequenceEntry vertical = clip(1.0, 0, 0);
    vertical.flipVertical = true;
    SequenceEntry both = clip(2.0, 0, 0);
    both.flipHorizontal = both.flipVertical = true;
    const Animation animation = makeAnimation({scene}, {horizontal, vertical, both});

    const Frame h = sampleAnimation(animation, 0.02);
    EXPECT_EQ(h.at(0), (Polyline{{4095.0f, 10.0f}, {0.0f, 4000.0f}}));
    const Frame v = sampleAnimation(animation, 1.02);
    EXPECT_EQ(v.at(0), (Polyline{{0.0f, 4085.0f}, {4095.0f, 95.0f}}));
    const Frame hv = sampleAnimation(animation, 2.02);
    EXPECT_EQ(hv.at(0), (Polyline{{4095.0f, 4085.0f}, {0.0f, 95.0f}}));
    EXPECT_EQ(animation.scenes[0].frames, scene.frames) << "the stored frames stay as loaded";
}

TEST(SampleAnimation, OverlappingClipsConcatenateInSequenceOrder) {
    Scene other;
    other.frames = {{{{7.0f, 7.0f}}, {{8.0f, 8.0f}}}};
    const Animation animation = makeAnimation(
        {slidingScene(10), other}, {clip(0.0, 5, 6, 0), clip(0.01, 0, 0, 1), clip(0.0, 9, 9, 0)});
    const Frame frame = sampleAnimation(animation, 0.02);
    ASSERT_EQ(frame.size(), 4u);
    EXPECT_NEAR(frame[0][0].x, 550.0f, 0.01f);
    EXPECT_EQ(frame[1], other.frames[0][0]);
    EXPECT_EQ(frame[2], other.frames[0][1]);
    EXPECT_FLOAT_EQ(frame[3][0].x, 900.0f);
    EXPECT_EQ(sampleAnimation(animation, 0.045).size(), 3u) << "the held clip has ended";
}

} // namespace
} // namespace lumarok
