#include "effects/audio_shapes.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumarok {
namespace {

AudioSnapshot filled(std::size_t count, glm::vec2 value) {
    return AudioSnapshot(count, value);
}

float distanceFromCentre(glm::vec2 p) {
    return std::hypot(p.x - kCentre, p.y - kCentre);
}

TEST(WaveformPolyline, SilenceIsAStraightLineAcrossTheMiddle) {
    for (const AudioSnapshot& silent : {filled(480, {0, 0}), AudioSnapshot{}}) {
        const Polyline wave = waveformPolyline(silent, 2047.0f);
        ASSERT_EQ(wave.size(), 33u);
        EXPECT_EQ(wave.front(), glm::vec2(0.0f, 2047.0f));
        EXPECT_EQ(wave.back(), glm::vec2(4095.0f, 2047.0f));
        for (std::size_t i = 1; i < wave.size(); ++i) {
            EXPECT_EQ(wave[i].y, 2047.0f);
            EXPECT_NEAR(wave[i].x - wave[i - 1].x, 4095.0f / 32.0f, 1e-3f);
        }
    }
}

TEST(WaveformPolyline, RisesAndFallsWithTheSumOfBothChannels) {
    for (const glm::vec2 wave : waveformPolyline(filled(100, {0.5f, 0.5f}), 2047.0f)) {
        EXPECT_FLOAT_EQ(wave.y, 2447.0f);
    }
    for (const glm::vec2 wave : waveformPolyline(filled(100, {-0.5f, -0.5f}), 2047.0f)) {
        EXPECT_FLOAT_EQ(wave.y, 1647.0f);
    }
    // Only the sum counts: opposite channels cancel.
    for (const glm::vec2 wave : waveformPolyline(filled(3, {0.7f, -0.7f}), 100.0f)) {
        EXPECT_FLOAT_EQ(wave.y, 100.0f);
    }
}

TEST(WaveformPolyline, ReadsSamplesAtThirtyThirdsSoTheLastPointStopsShortOfTheEnd) {
    AudioSnapshot ramp;
    for (int k = 0; k <= 100; ++k) {
        ramp.emplace_back(0.001f * float(k), 0.0f);
    }
    const Polyline wave = waveformPolyline(ramp, 0.0f);
    EXPECT_FLOAT_EQ(wave.front().y, 0.0f);
    // floor(100 * 32 / 33) = 96, not the last sample 100.
    EXPECT_NEAR(wave.back().y, 96 * 0.4f, 1e-3f);
    EXPECT_NEAR(wave[16].y, 48 * 0.4f, 1e-3f); // floor(100 * 16 / 33) = 48
}

TEST(CirclePolyline, RadiusFollowsTheAudio) {
    const float radius = 1500.0f;
    const struct {
        glm::vec2 level;
        float factor;
    } cases[] = {
        {{0, 0}, 1.0f}, {{0.5f, 0.5f}, 1.3f}, {{-0.5f, -0.5f}, 0.7f}, {{0.5f, -0.5f}, 1.0f}};
    for (const auto& c : cases) {
        const Polyline circle = circlePolyline(filled(480, c.level), radius);
        ASSERT_EQ(circle.size(), 65u);
        for (const glm::vec2 point : circle) {
            EXPECT_NEAR(distanceFromCentre(point), c.factor * radius, 0.01f);
        }
        EXPECT_NEAR(circle.front().x, circle.back().x, 0.01f);
        EXPECT_NEAR(circle.front().y, circle.back().y, 0.01f);
    }
    for (const glm::vec2 point : circlePolyline(AudioSnapshot{}, radius)) {
        EXPECT_NEAR(distanceFromCentre(point), radius, 0.01f);
    }
}

TEST(CirclePolyline, AngleZeroReadsTheLastSampleAndHalfATurnTheFirst) {
    AudioSnapshot snapshot(50, glm::vec2(0, 0));
    snapshot.front() = {0.5f, 0.5f};
    snapshot.back() = {-0.5f, -0.5f};
    const Polyline circle = circlePolyline(snapshot, 1000.0f);
    EXPECT_NEAR(distanceFromCentre(circle[0]), 700.0f, 0.01f);
    EXPECT_NEAR(distanceFromCentre(circle[32]), 1300.0f, 0.01f);
    EXPECT_NEAR(circle[32].x, kCentre - 1300.0f, 0.01f);
}

TEST(CirclePolyline, IsMirroredAboutTheHorizontalThroughTheCentre) {
    AudioSnapshot ramp;
    for (int k = 0; k < 480; ++k) {
        ramp.emplace_back(std::sin(0.1f * float(k)) * 0.4f, 0.1f);
    }
    const Polyline circle = circlePolyline(ramp, 1000.0f);
    for (int i = 1; i < 32; ++i) {
        const glm::vec2 upper = circle[static_cast<std::size_t>(i)];
        const glm::vec2 lower = circle[static_cast<std::size_t>(64 - i)];
        EXPECT_NEAR(upper.x, lower.x, 0.05f) << "point " << i;
        EXPECT_NEAR(upper.y - kCentre, kCentre - lower.y, 0.05f) << "point " << i;
    }
}

TEST(DisplaceFrame, MovesEveryPointAndKeepsTheShape) {
    const Frame frame{{{1, 2}, {3, 4}}, {}, {{10, 20}}};
    const Frame moved = displaceFrame(frame, [](glm::vec2 p) { return glm::vec2(p.x, -1.0f); });
    ASSERT_EQ(moved.size(), 3u);
    EXPECT_EQ(moved[0], (Polyline{{2, 1}, {6, 3}}));
    EXPECT_TRUE(moved[1].empty());
    EXPECT_EQ(moved[2], (Polyline{{20, 19}}));
}

TEST(DisturbanceOffset, IndexFollowsXAndNeverLeavesTheSnapshot) {
    AudioSnapshot snapshot;
    for (int k = 0; k < 4; ++k) {
        snapshot.emplace_back(0.1f * float(k + 1), -0.2f * float(k + 1));
    }
    const float strength = 100.0f;
    const auto offsetFor = [&](int k) {
        const glm::vec2 s = snapshot[static_cast<std::size_t>(k)];
        return glm::vec2(s.x * s.x * strength, s.y * s.y * strength);
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float x;
        int index;
    } cases[] = {{0.0f, 0}, {1023.9f, 0}, {1024.0f, 1},  {2048.0f, 2}, {4095.0f, 3}, {4096.0f, 3},
                 {1e9f, 3}, {inf, 3},     {-5000.0f, 0}, {-inf, 0},    {nan, 0},     {3071.9f, 2}};
    for (const auto& c : cases) {
        const glm::vec2 offset = disturbanceOffset(snapshot, strength, {c.x, 100.0f});
        EXPECT_EQ(offset, offsetFor(c.index)) << "x = " << c.x;
    }
}

TEST(DisturbanceOffset, PushesOnlyTowardsLargerCoordinates) {
    const glm::vec2 offset = disturbanceOffset(filled(10, {-0.5f, 0.25f}), 2000.0f, {500, 500});
    EXPECT_FLOAT_EQ(offset.x, 500.0f);
    EXPECT_FLOAT_EQ(offset.y, 125.0f);
    EXPECT_EQ(disturbanceOffset(AudioSnapshot{}, 2000.0f, {4000, 10}), glm::vec2(0, 0));
}

TEST(TakeAudioSnapshot, NoCaptureReadsAsOneSilentFrame) {
    EXPECT_EQ(takeAudioSnapshot(nullptr), AudioSnapshot{glm::vec2(0, 0)});
}

} // namespace
} // namespace lumarok
