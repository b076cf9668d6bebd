#include "show/show_timeline.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace lumarok {
namespace {

// Marks its output with its own id and the time it received, so a test can see
// which entry ran and with what time.
class MarkerEffect final : public Effect {
public:
    explicit MarkerEffect(float markerId) : id(markerId) {}
    using Effect::apply;
    void apply(const Frame& frame, float time, ColorFrame& out,
               EffectStorage& /*storage*/) const override {
        out = ColorFrame{{ColorPoint{{id, time}, {0.0f, 0.0f, 0.0f}}}};
        for (const Polyline& p : frame) {
            out.push_back(ColorPolyline(p.size()));
        }
    }
    [[nodiscard]] EffectKind kind() const override { return EffectKind::colour; }

private:
    float id;
};

ShowTimeline markerTimeline(std::initializer_list<std::int32_t> starts) {
    std::vector<TimelineEntry> entries;
    float id = 0.0f;
    for (const std::int32_t start : starts) {
        entries.push_back({start, std::make_unique<MarkerEffect>(id++)});
    }
    return ShowTimeline(std::move(entries));
}

TEST(ShowTimelineRule, LastReachedEntryInStorageOrderWinsEvenIfItStartsEarlier) {
    // Entry 2 starts after entry 3: storage order decides, not time order.
    const ShowTimeline timeline = markerTimeline({5000, 1000, 3000, 2000});
    EXPECT_EQ(timeline.selectedIndex(0.5), 0u);
    EXPECT_EQ(timeline.selectedIndex(1.0), 1u);
    EXPECT_EQ(timeline.selectedIndex(2.5), 3u);
    EXPECT_EQ(timeline.selectedIndex(3.5), 3u); // entry 2 is shadowed by entry 3
}

TEST(ShowTimelineRule, EntryZeroStartIsNeverExamined) {
    const ShowTimeline timeline = markerTimeline({5000, 1000});
    EXPECT_EQ(timeline.selectedIndex(-100.0), 0u);
    EXPECT_EQ(timeline.selectedIndex(6.0), 1u);
}

TEST(ShowTimelineRule, LaterEntryWithEqualStartShadowsTheEarlierOne) {
    const ShowTimeline timeline = markerTimeline({0, 2000, 2000});
    EXPECT_EQ(timeline.selectedIndex(2.0), 2u);
    EXPECT_EQ(timeline.selectedIndex(1.999), 0u);
}

TEST(ShowTimelineRule, NotANumberAndInfinitiesAreHandled) {
    const ShowTimeline timeline = markerTimeline({0, 1000, -1000});
    EXPECT_EQ(timeline.selectedIndex(std::numeric_limits<double>::quiet_NaN()), 0u);
    EXPECT_EQ(timeline.selectedIndex(-std::numeric_limits<double>::infinity()), 0u);
    EXPECT_EQ(timeline.selectedIndex(std::numeric_limits<double>::infinity()), 2u);
}

TEST(ShowTimelineRule, StartComparisonIsInDoubleMilliseconds) {
    // 2039 ms: 2.039 reaches it, the double just below does not.
    const ShowTimeline timeline = markerTimeline({0, 2039});
    EXPECT_EQ(timeline.selectedIndex(2.039), 1u);
    EXPECT_EQ(timeline.selectedIndex(std::nextafter(2.039, 0.0)), 0u);
}

TEST(ShowTimelineRender, AppliesSelectedEffectWithTimeNarrowedToFloat) {
    const ShowTimeline timeline = markerTimeline({0, 1000});
    const Frame frame{{{1.0f, 2.0f}, {3.0f, 4.0f}}, {}};
    const ColorFrame out = timeline.renderAt(217.63, frame);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0][0].position.x, 1.0f);
    EXPECT_EQ(out[0][0].position.y, 217.63f); // the float nearest to 217.63
    EXPECT_EQ(out[1].size(), 2u);             // the frame reached the effect intact
    EXPECT_EQ(out[2].size(), 0u);
    EXPECT_EQ(&timeline.effectAt(0.5), timeline.entry(0).effect.get());
}

TEST(ShowTimelineRule, RejectsEmptyTableAndMissingEffects) {
    EXPECT_THROW(ShowTimeline({}), std::invalid_argument);
    std::vector<TimelineEntry> entries;
    entries.push_back({0, std::make_unique<MarkerEffect>(0.0f)});
    entries.push_back({10, nullptr});
    EXPECT_THROW(ShowTimeline(std::move(entries)), std::invalid_argument);
}

} // namespace
} // namespace lumarok
