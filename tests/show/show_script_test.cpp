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

TEST(ShowScript, HasAllEntries) {
    EXPECT_EQ(showTimeline().size(), kShowEntryCount);
}

TEST(ShowScript, OpeningSelections) {
    const ShowTimeline& t = showTimeline();
    EXPECT_EQ(t.selectedIndex(0.0), 0u);
    EXPECT_EQ(t.selectedIndex(-1.0), 0u);
    EXPECT_EQ(t.selectedIndex(2.039), 0u);
    EXPECT_EQ(t.selectedIndex(2.04), 1u);
    EXPECT_EQ(t.selectedIndex(19.5699), 2u);
    EXPECT_EQ(t.selectedIndex(19.57), 3u);
    EXPECT_EQ(t.selectedIndex(std::numeric_limits<double>::quiet_NaN()), 0u);
}

TEST(ShowScript, OverlappingCreditRunsSkipTheShadowedWords) {
    const ShowTimeline& t = showTimeline();
    EXPECT_EQ(t.selectedIndex(45.43), 21u);
    EXPECT_EQ(t.selectedIndex(45.6299), 21u);
    EXPECT_EQ(t.selectedIndex(45.63), 22u);
    EXPECT_EQ(t.selectedIndex(45.83), 23u);
    EXPECT_EQ(t.selectedIndex(46.0299), 23u);
    EXPECT_EQ(t.selectedIndex(46.03), 24u);
    EXPECT_EQ(t.selectedIndex(75.67), 43u);
    EXPECT_EQ(t.selectedIndex(75.87), 44u);
    EXPECT_EQ(t.selectedIndex(76.07), 45u);
}

TEST(ShowScript, LastEntryHoldsForEver) {
    const ShowTimeline& t = showTimeline();
    EXPECT_EQ(t.selectedIndex(217.6299), 118u);
    EXPECT_EQ(t.selectedIndex(217.63), 119u);
    EXPECT_EQ(t.selectedIndex(10000.0), 119u);
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

TEST(ShowScript, EntriesCarryTheirValues) {
    const ShowTimeline& t = showTimeline();
    const Frame frame{{{100.0f, 200.0f}, {2000.0f, 2100.0f}}, {{1500.0f, 1500.0f}}};
    EXPECT_TRUE(sameColorFrames(t.renderAt(1.0, frame),
                                ColorEffect({0.0f, 0.0f, 1.0f}).apply(frame, 1.0f)));
    EXPECT_TRUE(sameColorFrames(t.renderAt(10.0, frame),
                                ColorEffect({0.0f, 0.0f, 1.0f}).apply(frame, 10.0f)));
    // The mask effect keeps its own copy of the mask it was given.
    EXPECT_TRUE(sameColorFrames(
        t.renderAt(3.0, frame),
        MaskEffect({0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, 0.95f, kMask).apply(frame, 3.0f)));
    EXPECT_TRUE(sameColorFrames(t.renderAt(19.6, frame),
                                TextEffect({1, 1, 1}, 1.0f, "KRELM").apply(frame, 19.6f)));
    EXPECT_TRUE(sameColorFrames(t.renderAt(45.5, frame),
                                TextEffect({1, 1, 1}, 0.75f, "GASKOVIN").apply(frame, 45.5f)));
    EXPECT_TRUE(sameColorFrames(t.renderAt(75.9, frame),
                                TextEffect({1, 1, 1}, 0.75f, "LIGHT").apply(frame, 75.9f)));
    EXPECT_TRUE(sameColorFrames(t.renderAt(44.25, frame),
                                TextEffect({1, 1, 1}, 0.75f, "ZUBIN-Q").apply(frame, 44.25f)));
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

TEST(ShowScript, TimeDrivenEffectGetsTheShowTimeAsNearestFloat) {
    const double showTime = 30.123456789;
    EXPECT_TRUE(sameColorFrames(
        showTimeline().renderAt(showTime, {}),
        TunnelEffect({1.0f, 1.0f, 0.95f}, 15.0f, 3.0f).apply({}, static_cast<float>(showTime))));
}

TEST(ShowScript, EmptyMaskIsAccepted) {
    const ShowTimeline timeline = makeShowTimeline({}, nullptr);
    const ColorFrame out = timeline.renderAt(3.0, {{{1.0f, 1.0f}, {2.0f, 2.0f}}});
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out.front().empty()); // the (empty) outline comes first
}

} // namespace
} // namespace lumarok
