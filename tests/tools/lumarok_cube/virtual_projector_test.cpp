#include "virtual_projector.hpp"

#include "laser/device_datagram.hpp"
#include "laser/sample_packets.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace lumarok {
namespace {

using namespace std::chrono_literals;
using Clock = VirtualProjector::Clock;

std::vector<std::byte> packet(std::uint8_t message, std::uint8_t frame, std::size_t count,
                              std::uint16_t x = 0) {
    SampleDataBuffer buffer{};
    const std::vector<LaserSample> samples(count, LaserSample{x, 1, 2, 3, 4});
    const std::size_t length =
        writeSampleDataPacket(buffer, PacketCounters{message, frame}, samples);
    return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length)};
}

std::vector<std::byte> command(std::uint8_t a, std::uint8_t b) {
    return {std::byte{a}, std::byte{b}};
}

TEST(VirtualProjector, AnswersDiscoveryInTheLinksOwnFormat) {
    VirtualProjector projector({"stage-left", 25000, 4000, false});
    const DeviceInfo info = parseDeviceInfo(projector.deviceInfo(Ipv4Address(0x0AD50002u)));
    EXPECT_EQ(info.deviceName, "stage-left");
    EXPECT_EQ(info.deviceAddress.text(), "10.213.0.2");
    EXPECT_EQ(info.sampleRate, 25000);
    EXPECT_EQ(info.bufferMax, 4000);
    EXPECT_EQ(info.bufferFree, 4000);

    VirtualProjector hidden({"x", 30000, 6000, true});
    EXPECT_EQ(parseDeviceInfo(hidden.deviceInfo(Ipv4Address(0x0AD50002u))).deviceAddress,
              kAnyAddress);
}

TEST(VirtualProjector, PlaysAtItsRateAndReportsFreeSpace) {
    VirtualProjector projector({"p", 30000, 6000, false});
    const Clock::time_point t0 = Clock::now();
    for (std::uint8_t i = 0; i < 10; ++i) {
        projector.handleSampleData(packet(i, 0, 140), t0);
    }
    EXPECT_EQ(projector.bufferFree(), 6000 - 1400);
    projector.advance(t0 + 10ms); // 300 samples played
    EXPECT_EQ(projector.bufferFree(), 6000 - 1100);
    EXPECT_EQ(parseBufferFree(projector.bufferFreeReport()), 4900);
    projector.advance(t0 + 1s);
    EXPECT_EQ(projector.bufferFree(), 6000);
    EXPECT_EQ(projector.counts().underruns, 0u) << "dry, but no packet came after";
}

TEST(VirtualProjector, CountsAnUnderrunOnlyWhenTheStreamGoesOn) {
    VirtualProjector projector({"p", 30000, 6000, false});
    const Clock::time_point t0 = Clock::now();
    projector.handleSampleData(packet(0, 0, 140), t0);
    projector.advance(t0 + 20ms); // 140 samples last 4.7 ms
    projector.handleSampleData(packet(1, 0, 140), t0 + 21ms);
    EXPECT_EQ(projector.counts().underruns, 1u);

    projector.advance(t0 + 40ms);
    EXPECT_EQ(projector.handleCommand(command(0x78, 0)), "switch A off");
    projector.handleSampleData(packet(2, 1, 140), t0 + 1s);
    EXPECT_EQ(projector.counts().underruns, 1u) << "a switch-off ends the stream";
}

TEST(VirtualProjector, CountsOverflowAndDroppedSamples) {
    VirtualProjector projector({"p", 30000, 1000, false});
    const Clock::time_point t0 = Clock::now();
    for (std::uint8_t i = 0; i < 8; ++i) {
        projector.handleSampleData(packet(i, 0, 140), t0); // 1120 into 1000
    }
    EXPECT_EQ(projector.counts().overflows, 1u);
    EXPECT_EQ(projector.counts().droppedSamples, 120u);
    EXPECT_EQ(projector.bufferFree(), 0);
}

TEST(VirtualProjector, AssemblesFramesAndNoticesCounterGaps) {
    VirtualProjector projector({"p", 30000, 6000, false});
    std::vector<std::size_t> sizes;
    projector.onFrame([&](const VirtualProjector::Frame& f) { sizes.push_back(f.samples.size()); });
    const Clock::time_point t0 = Clock::now();
    projector.handleSampleData(packet(255, 255, 140, 9), t0);
    projector.handleSampleData(packet(0, 255, 1, 9), t0);
    projector.handleSampleData(packet(1, 0, 5), t0); // counters wrapped: no gap
    EXPECT_EQ(projector.counts().messageGaps, 0u);
    EXPECT_EQ(projector.counts().frameGaps, 0u);
    ASSERT_EQ(sizes, std::vector<std::size_t>{141});
    EXPECT_EQ(projector.lastFrame().size(), 141u);
    EXPECT_EQ(projector.lastFrame().back().x, 9);

    projector.handleSampleData(packet(3, 2, 5), t0);
    EXPECT_EQ(projector.counts().messageGaps, 1u);
    EXPECT_EQ(projector.counts().frameGaps, 1u);

    const std::vector<std::byte> cut{std::byte{0xA9}, std::byte{0}, std::byte{4}, std::byte{2},
                                     std::byte{1}};
    projector.handleSampleData(cut, t0);
    projector.handleSampleData(std::vector<std::byte>{std::byte{0x11}}, t0);
    EXPECT_EQ(projector.counts().malformed, 2u);
    EXPECT_EQ(projector.counts().packets, 4u);
}

TEST(VirtualProjector, RecognisesOnlyTwoByteSwitchCommands) {
    VirtualProjector projector({"p", 30000, 6000, false});
    EXPECT_EQ(projector.handleCommand(command(0x80, 1)), "switch B on");
    EXPECT_EQ(projector.handleCommand(command(0x80, 0)), "switch B off");
    EXPECT_EQ(projector.handleCommand(command(0x79, 1)), "");
    EXPECT_EQ(projector.handleCommand(std::vector<std::byte>{std::byte{0x78}}), "");
    EXPECT_EQ(projector.counts().switchCommands, 2u);
}

TEST(VirtualProjector, CountsLitStarvedTimeOnlyWhileOnWithALitLastSample) {
    struct Case {
        const char* what;
        bool on;
        std::uint16_t lastRed; // 0: the last packet is dark
        std::chrono::milliseconds expected;
    };
    const std::vector<Case> cases{
        {"on, lit: 140 samples play 4.67 ms, then 95.33 ms starved", true, 4095, 95ms},
        {"on, dark last", true, 0, 0ms},
        {"off", false, 4095, 0ms},
    };
    for (const Case& c : cases) {
        VirtualProjector projector({"p", 30000, 6000, false});
        const Clock::time_point t0 = Clock::now();
        if (c.on) {
            projector.handleCommand(command(0x78, 1), t0);
        }
        SampleDataBuffer buffer{};
        const std::vector<LaserSample> samples(140, LaserSample{1, 2, c.lastRed, 0, 0});
        const std::size_t length = writeSampleDataPacket(buffer, PacketCounters{}, samples);
        projector.handleSampleData(std::span<const std::byte>(buffer.data(), length), t0);
        projector.advance(t0 + 50ms);
        projector.advance(t0 + 100ms);
        projector.settle(t0 + 100ms);
        EXPECT_EQ(
            std::chrono::duration_cast<std::chrono::milliseconds>(projector.counts().litStarved),
            c.expected)
            << c.what;
    }
}

TEST(VirtualProjector, CountsBurstsAndTheBusiest100Milliseconds) {
    struct Arrival {
        std::chrono::microseconds at;
        std::size_t samples;
    };
    struct Case {
        const char* what;
        std::vector<Arrival> arrivals;
        std::uint64_t burst;
        std::uint64_t most;
    };
    const std::vector<Case> cases{
        {"three within 0.5 ms of each other, then a pause and two",
         {{0us, 140}, {200us, 140}, {600us, 140}, {2000us, 140}, {2100us, 140}},
         3,
         700},
        {"0.5 ms apart is no burst", {{0us, 10}, {500us, 10}, {1000us, 10}}, 1, 30},
        {"the window holds less than 100 ms",
         {{0us, 100}, {50000us, 120}, {99999us, 130}, {100000us, 140}, {250000us, 50}},
         2,
         390},
    };
    for (const Case& c : cases) {
        VirtualProjector projector({"p", 30000, 60000, false});
        const Clock::time_point t0 = Clock::now();
        std::uint8_t message = 0;
        for (const Arrival& a : c.arrivals) {
            projector.handleSampleData(packet(message++, 0, a.samples), t0 + a.at);
        }
        EXPECT_EQ(projector.arrivals().largestBurst(), c.burst) << c.what;
        EXPECT_EQ(projector.arrivals().maxSamplesInWindow(), c.most) << c.what;
    }
    VirtualProjector projector({"p", 30000, 6000, false});
    projector.handleSampleData(std::vector<std::byte>{std::byte{0x11}}, Clock::now());
    EXPECT_EQ(projector.arrivals().largestBurst(), 0u) << "a malformed packet is no sample packet";
}

TEST(VirtualProjector, TellsWhenEachFramesFirstSamplePlays) {
    VirtualProjector projector({"p", 30000, 6000, false});
    std::vector<Clock::time_point> played;
    projector.onFrame([&](const VirtualProjector::Frame& f) { played.push_back(f.firstPlayed); });
    const Clock::time_point t0 = Clock::now();
    for (std::uint8_t i = 0; i < 10; ++i) {
        projector.handleSampleData(packet(i, 0, 140), t0);
    }
    // 300 of the 1400 played by then: 1100 ahead of it, 36.67 ms.
    projector.handleSampleData(packet(10, 1, 140), t0 + 10ms);
    projector.handleSampleData(packet(11, 2, 140), t0 + 1s); // the buffer ran dry before
    projector.handleSampleData(packet(12, 3, 140), t0 + 1s);
    ASSERT_EQ(played.size(), 3u);
    EXPECT_EQ(played[0], t0);
    EXPECT_NEAR(std::chrono::duration<double>(played[1] - t0).count(), 0.010 + 1100.0 / 30000,
                1e-6);
    EXPECT_EQ(played[2], t0 + 1s);
}

} // namespace
} // namespace lumarok
