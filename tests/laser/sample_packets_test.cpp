#include "laser/pacing.hpp"
#include "laser/sample_packets.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

namespace lumarok {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

struct Packet {
    std::vector<std::byte> bytes;
    std::size_t samples;
};

std::vector<Packet> pack(const std::vector<LaserSample>& samples, PacketCounters& counters) {
    SampleDataBuffer buffer{};
    std::vector<Packet> packets;
    packFrame(
        samples, counters, buffer, [] {},
        [&](std::span<const std::byte> bytes, std::size_t count) {
            packets.push_back(Packet{{bytes.begin(), bytes.end()}, count});
        });
    return packets;
}

std::vector<LaserSample> numbered(std::size_t count) {
    std::vector<LaserSample> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<std::uint16_t>(i);
        samples[i] = LaserSample{v, static_cast<std::uint16_t>(v + 1), 0x0102, 0, 4095};
    }
    return samples;
}

TEST(SampleData, EmptyFrameSendsNothingAndKeepsCounters) {
    PacketCounters counters{7, 9};
    EXPECT_TRUE(pack({}, counters).empty());
    EXPECT_EQ(counters.messageCounter, 7);
    EXPECT_EQ(counters.frameCounter, 9);
}

TEST(SampleData, SplitsAt140SamplesWithConsecutiveMessageCounters) {
    PacketCounters counters{};
    const std::vector<LaserSample> samples = numbered(141);
    const std::vector<Packet> packets = pack(samples, counters);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].bytes.size(), 1404u);
    EXPECT_EQ(packets[1].bytes.size(), 14u);
    for (std::size_t p = 0; p < 2; ++p) {
        EXPECT_EQ(packets[p].bytes[0], std::byte{0xA9});
        EXPECT_EQ(packets[p].bytes[1], std::byte{0x00});
        EXPECT_EQ(packets[p].bytes[2], static_cast<std::byte>(p)) << "message counter";
        EXPECT_EQ(packets[p].bytes[3], std::byte{0}) << "same frame counter";
    }
    // The sample after the split, little-endian on the wire: x = 140, r = 0x0102.
    const std::vector<std::byte>& second = packets[1].bytes;
    EXPECT_EQ(second[4], std::byte{140});
    EXPECT_EQ(second[5], std::byte{0});
    EXPECT_EQ(second[8], std::byte{0x02});
    EXPECT_EQ(second[9], std::byte{0x01});
    EXPECT_EQ(second[12], std::byte{0xFF});
    EXPECT_EQ(second[13], std::byte{0x0F});
    EXPECT_EQ(counters.messageCounter, 2);
    EXPECT_EQ(counters.frameCounter, 1);

    const std::vector<Packet> exact = pack(numbered(140), counters);
    ASSERT_EQ(exact.size(), 1u);
    EXPECT_EQ(exact[0].bytes.size(), 1404u);
}

TEST(SampleData, CountersWrapFrom255ToZero) {
    PacketCounters counters{254, 255};
    const std::vector<Packet> packets = pack(numbered(300), counters);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].bytes[2], std::byte{254});
    EXPECT_EQ(packets[1].bytes[2], std::byte{255});
    EXPECT_EQ(packets[2].bytes[2], std::byte{0});
    EXPECT_EQ(packets[2].bytes[3], std::byte{255});
    EXPECT_EQ(counters.messageCounter, 1);
    EXPECT_EQ(counters.frameCounter, 0);
}

// A part of a frame sent before a pause ends on a dark sample where there is one.
TEST(SampleData, APartOfAFrameEndsOnADarkSampleWithinTheRoom) {
    // Lit everywhere but at 3 and 8: "LLLdLLLLdL".
    std::vector<LaserSample> frame(10, LaserSample{1, 1, 4095, 0, 0});
    frame[3] = frame[8] = LaserSample{1, 1, 0, 0, 0};
    struct Case {
        std::size_t from, end;
        std::int32_t room;
        std::size_t expected;
    };
    for (const Case& c : {
             Case{0, 6, 100, 9}, // forward to the dark sample at 8
             Case{0, 6, 8, 4},   // no room up to 8: back to the one at 3
             Case{4, 6, 4, 6},   // neither within reach: as it was
             Case{0, 4, 100, 4}, // already on a dark sample
             Case{0, 10, 0, 10}, // the frame's end stays its end
             Case{9, 9, 100, 9}, // nothing to send
         }) {
        EXPECT_EQ(endOnDark(frame, c.from, c.end, c.room), c.expected)
            << c.from << ".." << c.end << " room " << c.room;
    }
}

TEST(Pacing, ThresholdAndSleepLength) {
    EXPECT_FALSE(needsPacing(4500, 6000));
    EXPECT_TRUE(needsPacing(4499, 6000));
    EXPECT_TRUE(needsPacing(-5, 6000));
    EXPECT_FALSE(needsPacing(0, 0)) << "signed: an unknown buffer never waits";
    EXPECT_EQ(pacingSleep(100, 30000), microseconds(3334)) << "rounded up";
    EXPECT_EQ(pacingSleep(1, 30000), microseconds(34));
    EXPECT_EQ(pacingSleep(6000, 30000), kLongestPacingSleep) << "capped, so a stop is seen";
    EXPECT_EQ(pacingSleep(100, 0), microseconds(0));
    EXPECT_EQ(pacingSleep(100, -1), microseconds(0));
    EXPECT_EQ(samplesPlayed(microseconds(3333), 30000), 100) << "rounded, not truncated";
    EXPECT_EQ(samplesPlayed(std::chrono::milliseconds(10), 30000), 300);
    EXPECT_EQ(samplesPlayed(nanoseconds(-5), 30000), 0);
}

// A sleeper that records the requested sleeps and reports each as `factor` times as
// long, as an overloaded machine would; `during` runs inside each sleep.
struct FakeSleep {
    std::vector<microseconds> requested;
    double factor = 1.0;
    std::function<void()> during;
    BufferEstimate::Clock::time_point at{}; // the fake clock, moved on by each sleep
    nanoseconds operator()(microseconds duration) {
        requested.push_back(duration);
        if (during) {
            during();
        }
        const nanoseconds elapsed(
            static_cast<std::int64_t>(static_cast<double>(duration.count()) * 1000.0 * factor));
        at += elapsed;
        return elapsed;
    }
};

struct PaceCase {
    const char* what;
    std::int32_t free;
    std::int32_t rate;
    double factor;
    std::vector<microseconds> sleeps; // what was asked for, in order
    std::int32_t freeAfter;
};

TEST(Pacing, OneSleepForTheWholeShortfallWithWhatWasPlayedCredited) {
    const std::vector<PaceCase> cases{
        {"at the threshold", 4500, 30000, 1.0, {}, 4500},
        {"one sample short", 4499, 30000, 1.0, {microseconds(34)}, 4500},
        {"far below: one sleep, not many slices", 4100, 30000, 1.0, {microseconds(13334)}, 4500},
        {"an oversleep is credited", 4200, 30000, 3.0, {microseconds(10000)}, 5100},
        {"unknown rate never sleeps", -100000, 0, 1.0, {}, -100000},
        {"a long shortfall in capped sleeps",
         0,
         30000,
         1.0,
         {kLongestPacingSleep, kLongestPacingSleep, kLongestPacingSleep, kLongestPacingSleep,
          kLongestPacingSleep, kLongestPacingSleep, kLongestPacingSleep, microseconds(10000)},
         4500},
    };
    for (const PaceCase& c : cases) {
        BufferEstimate estimate;
        estimate.bufferFree = c.free;
        FakeSleep sleep;
        sleep.factor = c.factor;
        const PaceResult result = paceBeforePacket(
            estimate, 6000, c.rate, std::ref(sleep), [&] { return sleep.at; }, [] { return false; },
            std::chrono::seconds(1));
        EXPECT_EQ(result, PaceResult::ready) << c.what;
        EXPECT_EQ(sleep.requested, c.sleeps) << c.what;
        EXPECT_EQ(estimate.bufferFree.load(), c.freeAfter) << c.what;
    }
}

TEST(Pacing, DeviceReportDuringSleepReplacesTheEstimateFromWhenItWasHeard) {
    struct Case {
        const char* what;
        milliseconds heardAfter; // into the first sleep
        std::vector<microseconds> sleeps;
    };
    const std::vector<Case> cases{
        // 4100 free heard 10 ms in: 200 samples played since, 200 still short.
        {"a fresh report", milliseconds(10), {microseconds(16667), microseconds(6667)}},
        // Heard as the sleep began: the whole sleep is played since, no second sleep.
        {"a report as old as the sleep", milliseconds(0), {microseconds(16667)}},
    };
    for (const Case& c : cases) {
        BufferEstimate estimate;
        estimate.bufferFree = 4000;
        FakeSleep sleep;
        sleep.during = [&] {
            if (sleep.requested.size() == 1) {
                estimate.report(4100, sleep.at + c.heardAfter); // "still only 4100 free"
            }
        };
        paceBeforePacket(
            estimate, 6000, 30000, std::ref(sleep), [&] { return sleep.at; }, [] { return false; },
            std::chrono::seconds(1));
        EXPECT_EQ(sleep.requested, c.sleeps) << c.what;
        EXPECT_GE(estimate.bufferFree.load(), 4500) << c.what;
        EXPECT_LE(estimate.bufferFree.load(), 4600) << c.what;
    }
}

TEST(Pacing, EndsOnAStopOrOnADeviceThatNeverMakesRoom) {
    BufferEstimate estimate;
    FakeSleep full;
    full.during = [&] { estimate.report(0, full.at); }; // "0 free", again and again
    std::atomic<bool> stop{false};
    EXPECT_EQ(paceBeforePacket(
                  estimate, 6000, 30000, std::ref(full), [&] { return full.at; },
                  [&] { return stop.load(); }, std::chrono::milliseconds(450)),
              PaceResult::stalled);
    EXPECT_EQ(full.requested.size(), 23u) << "450 ms of 20 ms sleeps, then one more look";

    FakeSleep stopping;
    stopping.during = [&] {
        estimate.report(0, stopping.at);
        stop = stopping.requested.size() == 3;
    };
    EXPECT_EQ(paceBeforePacket(
                  estimate, 6000, 30000, std::ref(stopping), [&] { return stopping.at; },
                  [&] { return stop.load(); }, std::chrono::seconds(10)),
              PaceResult::stopped);
    EXPECT_EQ(stopping.requested.size(), 3u);
}

} // namespace
} // namespace lumarok
