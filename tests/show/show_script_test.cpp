#include "show/show_script.hpp"

#include "effects/color_effect.hpp"
#include "effects/mask_effect.hpp"
#include "effects/text_effect.hpp"
#include "effects/tunnel_effect.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

namespace lumarok {
namespace {

const Polyline kMask{{1000.0f, 1000.0f},
                     {3000.0f, 1000.0f},
                     {3000.0f, 3000.0f},
                     {1000.0f, 3000.0f},
                     {1000.0f, 1000.0f}};

const ShowTimeline& showTimeline() {
    static const ShowTimeline timeline = makeShowTimeline(kMask, nullptr);
    return timeline;
}

bool sameColorFrames(const ColorFrame& a, const ColorFrame& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) {
            return false;
        }
        for (std::size_t j = 0; j < a[i].size(); ++j) {
            if (a[i][j].position != b[i][j].position || a[i][j].color != b[i][j].color) {
                return false;
            }
        }
    }
    return true;
}

// Each time picks its entry, and where an effect is given, the entry draws what that
// effect draws with the show time as the nearest float (the mask effect keeps its own
// copy of the mask it was given).
TEST(ShowScript, EachTimeSelectsItsEntryAndItsEffect) {
    const ShowTimeline& t = showTimeline();
    ASSERT_EQ(t.size(), kShowEntryCount);
    const ColorEffect blue({0.0f, 0.0f, 1.0f});
    const MaskEffect mask({0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, 0.95f, kMask);
    const TextEffect title({1, 1, 1}, 1.0f, "KRELM");
    const TextEffect credit({1, 1, 1}, 0.75f, "GASKOVIN");
    const TextEffect light({1, 1, 1}, 0.75f, "LIGHT");
    const TextEffect zubin({1, 1, 1}, 0.75f, "ZUBIN-Q");
    const TunnelEffect tunnel({1.0f, 1.0f, 0.95f}, 15.0f, 3.0f);
    const struct {
        double seconds;
        std::size_t entry;
        const Effect* effect = nullptr;
    } cases[] = {
        {-1.0, 0},
        {0.0, 0},
        {1.0, 0, &blue},
        {2.039, 0},
        {2.04, 1},
        {3.0, 1, &mask},
        {10.0, 2, &blue},
        {19.5699, 2},
        {19.57, 3},
        {19.6, 3, &title},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {30.123456789, 7, &tunnel},
        // Overlapping credit runs: the later run shadows the earlier run's words.
        {44.25, 12, &zubin},
        {45.43, 21},
        {45.5, 21, &credit},
        {45.6299, 21},
        {45.63, 22},
        {45.83, 23},
        {46.0299, 23},
        {46.03, 24},
        {75.67, 43},
        {75.87, 44},
        {75.9, 44, &light},
        {76.07, 45},
        {217.6299, 118},
        {217.63, 119},
        {10000.0, 119} // the last holds
    };
    const Frame frame{{{100.0f, 200.0f}, {2000.0f, 2100.0f}}, {{1500.0f, 1500.0f}}};
    for (const auto& c : cases) {
        EXPECT_EQ(t.selectedIndex(c.seconds), c.entry) << c.seconds;
        if (c.effect != nullptr) {
            EXPECT_TRUE(sameColorFrames(t.renderAt(c.seconds, frame),
                                        c.effect->apply(frame, static_cast<float>(c.seconds))))
                << c.seconds;
        }
    }
}

TEST(ShowScript, EveryEntryButTheShadowedSixIsReachedOverTheShow) {
    // Every millisecond of the show, in steps that hit each whole-ms start.
    std::set<std::size_t> reached;
    for (int ms = -1000; ms <= 230000; ++ms) {
        reached.insert(showTimeline().selectedIndex(ms / 1000.0));
    }
    std::set<std::size_t> missing;
    for (std::size_t i = 0; i < kShowEntryCount; ++i) {
        if (reached.count(i) == 0) {
            missing.insert(i);
        }
    }
    EXPECT_EQ(missing, (std::set<std::size_t>{18, 19, 20, 40, 41, 42}));
}

TEST(ShowScript, EveryEntryDrawsTheSameWithKeptOrFreshStorage) {
    // One storage and output kept through every entry, as a rendering loop keeps them,
    // forwards and back: nothing an entry leaves in them may change another's picture.
    const ShowTimeline& t = showTimeline();
    const Frame frame{{{500.0f, 500.0f}, {3500.0f, 500.0f}, {3500.0f, 3500.0f}, {500.0f, 500.0f}},
                      {{100.0f, 2000.0f}, {4000.0f, 2100.0f}},
                      {{1500.0f, 1500.0f}}};
    EffectStorage storage;
    ColorFrame kept;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t k = 0; k < t.size(); ++k) {
            const std::size_t i = pass == 0 ? k : t.size() - 1 - k;
            const Effect& effect = *t.entry(i).effect;
            const float time = static_cast<float>(t.entry(i).startMs) / 1000.0f + 0.5f;
            effect.apply(frame, time, kept, storage);
            EXPECT_TRUE(sameColorFrames(kept, effect.apply(frame, time))) << "entry " << i;
        }
    }
}

TEST(ShowScript, EmptyMaskIsAccepted) {
    const ShowTimeline timeline = makeShowTimeline({}, nullptr);
    const ColorFrame out = timeline.renderAt(3.0, {{{1.0f, 1.0f}, {2.0f, 2.0f}}});
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out.front().empty()); // the (empty) outline comes first
}

} // namespace
} // namespace lumarok
