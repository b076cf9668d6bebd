#include "clock/ltc_timecode.hpp"

#include <gtest/gtest.h>

namespace lumarok {
namespace {

TEST(LtcTimecode, LabelsBecomeSecondsAtEachRate) {
    const LtcRate df{30, true};
    struct Case {
        Timecode label;
        LtcRate rate;
        double seconds;
    } const cases[] = {
        {{1, 2, 3, 12}, {25, false}, 3723.48},   {{0, 0, 1, 12}, {24, false}, 1.5},
        {{0, 0, 1, 15}, {30, false}, 1.5},       {{0, 0, 59, 29}, df, 1799 * 1.001 / 30},
        {{0, 1, 0, 2}, df, 1800 * 1.001 / 30},   // ;00 and ;01 do not exist: next frame
        {{0, 10, 0, 0}, df, 17982 * 1.001 / 30}, // every tenth minute keeps them
        {{1, 0, 0, 0}, df, 107892 * 1.001 / 30},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(timecodeSeconds(c.label, c.rate), c.seconds, 1e-9) << c.label.minutes;
    }
}

TEST(LtcTimecode, RateIsTheNearestFrameLengthWithTheDropFrameBit) {
    EXPECT_EQ(ltcRateFor(2000, 48000, false), (LtcRate{24, false}));
    EXPECT_EQ(ltcRateFor(1925, 48000, false), (LtcRate{25, false}));
    EXPECT_EQ(ltcRateFor(1600, 48000, false), (LtcRate{30, false}));
    EXPECT_EQ(ltcRateFor(1601.6, 48000, true), (LtcRate{30, true}));
    EXPECT_EQ(ltcRateFor(1920, 48000, true), (LtcRate{25, false})); // the bit means 30 only
    EXPECT_EQ((LtcRate{30, true}).name(), "29.97 drop-frame");
}

} // namespace
} // namespace lumarok
