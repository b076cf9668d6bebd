#include "laser/pacing.hpp"
#include "laser/sample_packets.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace lumarok {
namespace {

using std::chrono::microseconds;
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

TEST(Pacing, ThresholdAndSleepLength) {
    EXPECT_FALSE(needsPacing(4500, 6000));
    EXPECT_TRUE(needsPacing(4499, 6000));
    EXPECT_TRUE(needsPacing(-5, 6000));
    EXPECT_FALSE(needsPacing(0, 0)) << "signed: an unknown buffer never waits";
    EXPECT_EQ(pacingSleep(30000), microseconds(3333));
    EXPECT_EQ(pacingSleep(0), microseconds(0));
    EXPECT_EQ(pacingSleep(-1), microseconds(0));
    EXPECT_EQ(samplesPlayed(microseconds(3333), 30000), 100) << "rounded, not truncated";
    EXPECT_EQ(samplesPlayed(std::chrono::milliseconds(10), 30000), 300);
    EXPECT_EQ(samplesPlayed(nanoseconds(-5), 30000), 0);
}

// A sleeper that records the requested sleeps and reports each as `factor` times as
// long, as an overloaded machine would.
struct FakeSleep {
    std::vector<microseconds> requested;
    double factor = 1.0;
    nanoseconds operator()(microseconds duration) {
        requested.push_back(duration);
        return nanoseconds(
            static_cast<std::int64_t>(static_cast<double>(duration.count()) * 1000.0 * factor));
    }
};

TEST(Pacing, ExamplesFromAFullBuffer) {
    BufferEstimate estimate;
    FakeSleep sleep;
    estimate.bufferFree = 4500;
    EXPECT_EQ(paceBeforePacket(estimate, 6000, 30000, std::ref(sleep)), 0);
    estimate.bufferFree = 4499;
    EXPECT_EQ(paceBeforePacket(estimate, 6000, 30000, std::ref(sleep)), 1);
    ASSERT_EQ(sleep.requested.size(), 1u);
    EXPECT_EQ(sleep.requested[0], microseconds(3333));
    EXPECT_EQ(estimate.bufferFree.load(), 4599);
}

TEST(Pacing, SleepsUntilThresholdIsReachedSoAFastSenderCannotOverflow) {
    BufferEstimate estimate;
    FakeSleep sleep;
    estimate.bufferFree = 4500 - 140 - 260; // far below: one slice is not enough
    EXPECT_EQ(paceBeforePacket(estimate, 6000, 30000, std::ref(sleep)), 4);
    EXPECT_GE(estimate.bufferFree.load(), 4500);
}

TEST(Pacing, OversleepIsCredited) {
    BufferEstimate estimate;
    FakeSleep sleep;
    sleep.factor = 3.0; // every slice takes three times as long
    estimate.bufferFree = 4200;
    EXPECT_EQ(paceBeforePacket(estimate, 6000, 30000, std::ref(sleep)), 1);
    EXPECT_EQ(estimate.bufferFree.load(), 4500);
}

TEST(Pacing, DeviceReportDuringSleepReplacesTheEstimate) {
    BufferEstimate estimate;
    estimate.bufferFree = 4000;
    int calls = 0;
    auto reportingSleep = [&](microseconds duration) {
        ++calls;
        if (calls == 1) {
            estimate.report(4100); // the device says: still only 4100 free
        }
        return nanoseconds(duration);
    };
    paceBeforePacket(estimate, 6000, 30000, reportingSleep);
    // First slice: no credit on top of the report; four more slices reach 4500.
    EXPECT_EQ(calls, 5);
    EXPECT_EQ(estimate.bufferFree.load(), 4500);
}

TEST(Pacing, UnknownRateNeverSleeps) {
    BufferEstimate estimate;
    FakeSleep sleep;
    estimate.bufferFree = -100000;
    EXPECT_EQ(paceBeforePacket(estimate, 6000, 0, std::ref(sleep)), 0);
    EXPECT_TRUE(sleep.requested.empty());
}

} // namespace
} // namespace lumarok
