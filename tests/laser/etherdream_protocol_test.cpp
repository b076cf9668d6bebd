#include "laser/etherdream_protocol.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace lumarok {
namespace {

namespace ed = etherdream;

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (const int v : values) {
        out.push_back(static_cast<std::byte>(v));
    }
    return out;
}

std::int32_t s16(const std::array<std::byte, ed::kPointBytes>& p, std::size_t at) {
    return static_cast<std::int16_t>(std::to_integer<unsigned>(p[at]) |
                                     (std::to_integer<unsigned>(p[at + 1]) << 8U));
}

std::int32_t u16(const std::array<std::byte, ed::kPointBytes>& p, std::size_t at) {
    return static_cast<std::int32_t>(static_cast<std::uint16_t>(s16(p, at)));
}

// Positions as ILDA has them (the LaserCube's picture mirrored on both axes), colours
// widened from 12 to 16 bits, intensity the brightest colour; and back within one unit.
TEST(EtherDreamProtocol, PointsMapPositionsAndColoursAndComeBack) {
    struct Case {
        LaserSample sample;
        std::int32_t x, y, r, g, b, i;
    };
    const std::vector<Case> cases{
        {{0, 0, 0, 0, 0}, 32767, -32768, 0, 0, 0, 0},
        {{4095, 4095, 4095, 4095, 4095}, -32768, 32767, 65535, 65535, 65535, 65535},
        {{2047, 2047, 1, 2048, 0}, 8, -9, 16, 32776, 0, 32776},
        {{5000, 9999, 4096, 0, 17}, -32768, 32767, 65535, 0, 272, 65535}, // held at 4095
    };
    for (const Case& c : cases) {
        std::array<std::byte, ed::kPointBytes> point{};
        ed::writePoint(point, c.sample);
        SCOPED_TRACE(testing::Message() << c.sample.x << "," << c.sample.y);
        EXPECT_EQ(u16(point, 0), 0) << "control";
        EXPECT_EQ(s16(point, 2), c.x);
        EXPECT_EQ(s16(point, 4), c.y);
        EXPECT_EQ(u16(point, 6), c.r);
        EXPECT_EQ(u16(point, 8), c.g);
        EXPECT_EQ(u16(point, 10), c.b);
        EXPECT_EQ(u16(point, 12), c.i);
        EXPECT_EQ(u16(point, 14) + u16(point, 16), 0) << "user channels";
        const LaserSample back = ed::readPoint(point);
        const auto held = [](std::uint16_t v) { return std::min<std::uint16_t>(v, 4095); };
        EXPECT_EQ(back.x, held(c.sample.x));
        EXPECT_EQ(back.y, held(c.sample.y));
        EXPECT_EQ(back.r, held(c.sample.r));
        EXPECT_EQ(back.g, held(c.sample.g));
        EXPECT_EQ(back.b, held(c.sample.b));
    }
    std::array<std::byte, ed::kPointBytes> rated{};
    ed::writePoint(rated, {}, true);
    EXPECT_EQ(u16(rated, 0), 0x8000);
}

TEST(EtherDreamProtocol, CommandsAreLittleEndianAndPacked) {
    std::array<std::byte, ed::kMaxWriteBytes> out{};
    const std::vector<LaserSample> two(2);
    const std::vector<LaserSample> many(200);
    const std::vector<std::pair<std::function<std::size_t()>, std::vector<std::byte>>> cases{
        {[&] { return ed::writeCommand(out, ed::Command::prepare); }, bytes({0x70})},
        {[&] { return ed::writeCommand(out, ed::Command::stop); }, bytes({0x73})},
        {[&] { return ed::writeBegin(out, 30000); }, bytes({0x62, 0, 0, 0x30, 0x75, 0, 0})},
        {[&] { return ed::writeQueueRate(out, 100000); }, bytes({0x71, 0xA0, 0x86, 0x01, 0})},
        {[&] { return ed::writeData(out, two); }, bytes({0x64, 2, 0})},
        {[&] { return ed::writeData(out, many); }, bytes({0x64, 80, 0})},
    };
    for (const auto& [write, expected] : cases) {
        const std::size_t length = write();
        ASSERT_GE(length, expected.size());
        EXPECT_EQ(
            std::vector<std::byte>(out.begin(), out.begin() + static_cast<long>(expected.size())),
            expected);
        if (expected[0] == std::byte{0x64}) {
            EXPECT_EQ(length, 3 + ed::kPointBytes * std::to_integer<std::size_t>(expected[1]));
        } else {
            EXPECT_EQ(length, expected.size());
        }
    }
}

TEST(EtherDreamProtocol, ResponsesAndBroadcastsAreReadFieldByField) {
    const std::vector<std::byte> status =
        bytes({0, 3, 2, 0, 0x01, 0, 0x06, 0, 0, 0, 0x07, 0x07, 0x30, 0x75, 0, 0, 0x10, 0x27, 0, 0});
    std::vector<std::byte> response = bytes({0x61, 0x64});
    response.insert(response.end(), status.begin(), status.end());
    const std::optional<ed::Response> r =
        ed::readResponse(std::span(response).first<ed::kResponseBytes>());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->reply, 0x61);
    EXPECT_EQ(r->command, 0x64);
    EXPECT_EQ(r->status.lightEngine, 3);
    EXPECT_EQ(r->status.playback, 2);
    EXPECT_EQ(r->status.lightEngineFlags, 1);
    EXPECT_EQ(r->status.playbackFlags, 6);
    EXPECT_EQ(r->status.bufferFullness, 0x0707);
    EXPECT_EQ(r->status.pointRate, 30000U);
    EXPECT_EQ(r->status.pointCount, 10000U);
    for (const int reply : {0x46, 0x49, 0x21}) {
        response[0] = static_cast<std::byte>(reply);
        EXPECT_TRUE(ed::readResponse(std::span(response).first<ed::kResponseBytes>())) << reply;
    }
    response[0] = std::byte{0x62};
    EXPECT_FALSE(ed::readResponse(std::span(response).first<ed::kResponseBytes>()));

    std::vector<std::byte> broadcast =
        bytes({0x02, 0, 0, 0xAB, 0xCD, 0xEF, 1, 0, 2, 0, 0x07, 0x07, 0xA0, 0x86, 0x01, 0});
    broadcast.insert(broadcast.end(), status.begin(), status.end());
    const std::optional<ed::Broadcast> b = ed::readBroadcast(broadcast);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->bufferCapacity, 1799);
    EXPECT_EQ(b->maxPointRate, 100000U);
    EXPECT_EQ(b->softwareRevision, 2);
    EXPECT_EQ(b->status.bufferFullness, 0x0707);
    EXPECT_EQ(ed::deviceName(*b), "etherdream-abcdef");
    std::array<std::byte, ed::kBroadcastBytes> again{};
    ed::writeBroadcast(again, *b);
    EXPECT_EQ(std::vector<std::byte>(again.begin(), again.end()), broadcast);
    broadcast.push_back(std::byte{0});
    EXPECT_FALSE(ed::readBroadcast(broadcast)) << "another length";
}

} // namespace
} // namespace lumarok
