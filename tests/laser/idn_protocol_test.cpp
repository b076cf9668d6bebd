#include "laser/idn_protocol.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace lumarok {
namespace {

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> out;
    for (const int v : values) {
        out.push_back(static_cast<std::byte>(v));
    }
    return out;
}

std::vector<std::byte> padded(std::vector<std::byte> head, std::size_t size) {
    head.resize(size, std::byte{0});
    return head;
}

TEST(IdnProtocol, WaveChunksCarryHeaderConfigurationDurationAndSamplesBigEndian) {
    std::array<std::byte, idn::kMaxPayload> out{};
    const std::vector<LaserSample> samples{{0, 4095, 4095, 0, 2048}, {2047, 2047, 0, 0, 0}};
    struct Case {
        bool configuration;
        std::vector<std::byte> expected;
    };
    const std::vector<Case> cases{
        {true,
         bytes({0x40, 0,    0x12, 0x34,                         // hello: channel message, sequence
                0,    48,   0xC3, 0x01, 0,    0x0F, 0x42, 0x40, // size, CCLF|channel 3|wave, 1 s
                4,    0x21, 5,    1,                            // SCWC 4, SDM 2, routing, service 5
                0x42, 0x00, 0x40, 0x10, 0x42, 0x10, 0x40, 0x10, // X, precision, Y, precision
                0x52, 0x7E, 0x52, 0x14, 0x51, 0xCC, 0x5C, 0x10, // R, G, B, intensity
                0x20, 0,    0,    67,                           // SCM 2, 67 us
                0x7F, 0xFF, 0x7F, 0xFF, 255,  0,    128,  255,  // (0, 4095) mirrored
                0x00, 0x08, 0xFF, 0xF7, 0,    0,    0,    0})}, // centre, dark
        {false, bytes({0x40, 0,    0x12, 0x34, 0,    28,   0x83, 0x01, 0,    0x0F, 0x42,
                       0x40, 0x20, 0,    0,    67,   0x7F, 0xFF, 0x7F, 0xFF, 255,  0,
                       128,  255,  0x00, 0x08, 0xFF, 0xF7, 0,    0,    0,    0})},
    };
    for (const Case& c : cases) {
        const idn::WaveChunk chunk{3, 5,         c.configuration,
                                   2, 1'000'000, idn::durationOf(samples.size(), 30000)};
        const std::size_t length = idn::writeWaveMessage(out, 0x1234, chunk, samples);
        EXPECT_EQ(std::vector<std::byte>(out.begin(), out.begin() + static_cast<long>(length)),
                  c.expected)
            << "configuration " << c.configuration;
    }
    const std::size_t length = idn::writeCloseMessage(out, 7, 3, 5);
    EXPECT_EQ(std::vector<std::byte>(out.begin(), out.begin() + static_cast<long>(length)),
              bytes({0x40, 0, 0, 7, 0, 12, 0xC3, 0x00, 0, 0, 0, 0, 0, 0x02, 5, 0}));
}

TEST(IdnProtocol, ScanServiceMapAndAcknowledgementAreReadAndMalformedOnesRefused) {
    const auto unit = idn::readScanResponse(
        padded(bytes({0x11, 0, 0, 1, 40, 0x01, 0x11, 0, 3, 7,   0xAA, 0xBB, 0,   0,  0,
                      0,    0, 0, 0, 0,  0,    0,    0, 0, 'l', 'a',  's',  'e', 'r'}),
               44));
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->status, idn::kOccupied | idn::kRealtime);
    EXPECT_EQ(unit->unitId, (std::vector<std::uint8_t>{7, 0xAA, 0xBB}));
    EXPECT_EQ(unit->hostName, "laser");
    EXPECT_FALSE(idn::readScanResponse(padded(bytes({0x11, 0, 0, 1, 39}), 44))) << "size 39";
    EXPECT_FALSE(idn::readScanResponse(padded(bytes({0x11, 0, 0, 1, 40}), 43))) << "short";

    std::vector<std::byte> map = bytes({0x13, 0, 0, 2, 4, 24, 1, 1});
    const std::vector<std::byte> relay = padded(bytes({0, 0, 0, 1, 'r'}), 24);
    const std::vector<std::byte> laser = padded(bytes({1, 0x80, 0x01, 0, 'm', 'a', 'i', 'n'}), 24);
    map.insert(map.end(), relay.begin(), relay.end());
    map.insert(map.end(), laser.begin(), laser.end());
    const auto services = idn::readServiceMap(map);
    ASSERT_TRUE(services);
    ASSERT_EQ(services->size(), 1U);
    EXPECT_EQ((*services)[0].id, 1);
    EXPECT_EQ((*services)[0].type, 0x80);
    EXPECT_EQ((*services)[0].name, "main");
    map.pop_back();
    EXPECT_FALSE(idn::readServiceMap(map)) << "cut short";

    const auto accepted = idn::readAcknowledgement(bytes({0x47, 0, 0, 9, 4, 0, 0, 1}));
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->result, 0);
    EXPECT_EQ(accepted->events, 1);
    const auto occupied = idn::readAcknowledgement(padded(bytes({0x47, 0, 0, 9, 12, 0xEC}), 16));
    ASSERT_TRUE(occupied);
    EXPECT_EQ(occupied->result, -20);
    EXPECT_FALSE(idn::readAcknowledgement(bytes({0x47, 0, 0, 9, 12, 0, 0, 0}))) << "short";
}

} // namespace
} // namespace lumarok
