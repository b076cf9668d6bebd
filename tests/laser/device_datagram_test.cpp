#include "laser/device_datagram.hpp"
#include "laser/discovery.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumarok {
namespace {

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    std::vector<std::byte> result;
    for (const int v : values) {
        result.push_back(static_cast<std::byte>(v));
    }
    return result;
}

// A complete device information as a device of name `name` at 10.0.0.7 sends it.
std::vector<std::byte> fullInfo(const std::string& name) {
    std::vector<std::byte> d(38, std::byte{0});
    d[0] = std::byte{0x77};
    d[3] = std::byte{3};
    d[4] = std::byte{4};
    d[5] = std::byte{9};
    d[10] = std::byte{0x30}; // 30000 = 0x7530
    d[11] = std::byte{0x75};
    d[14] = std::byte{0xFF};
    d[15] = std::byte{0xFF};
    d[16] = std::byte{0xFF};
    d[17] = std::byte{0xFF};
    d[19] = std::byte{0x94}; // 4500 = 0x1194
    d[20] = std::byte{0x11};
    d[21] = std::byte{0x70}; // 6000 = 0x1770
    d[22] = std::byte{0x17};
    d[23] = std::byte{23};
    d[24] = std::byte{24};
    d[25] = std::byte{25};
    for (std::size_t i = 0; i < 6; ++i) {
        d[26 + i] = static_cast<std::byte>('A' + i); // no terminator inside the field
    }
    d[32] = std::byte{10};
    d[33] = std::byte{0};
    d[34] = std::byte{0};
    d[35] = std::byte{7};
    d[37] = std::byte{37};
    for (const char c : name) {
        d.push_back(static_cast<std::byte>(c));
    }
    d.push_back(std::byte{0});
    d.push_back(std::byte{'X'}); // after the terminator: not part of the name
    return d;
}

TEST(DeviceInfo, ReadsEveryFieldOfACompleteDatagram) {
    const DeviceInfo info = parseDeviceInfo(fullInfo("LC"));
    EXPECT_EQ(info.infoByte3, 3);
    EXPECT_EQ(info.infoByte4, 4);
    EXPECT_TRUE(info.infoFlag5);
    EXPECT_EQ(info.sampleRate, 30000);
    EXPECT_EQ(info.infoWord14, -1);
    EXPECT_EQ(info.bufferFree, 4500);
    EXPECT_EQ(info.bufferMax, 6000);
    EXPECT_EQ(info.infoByte23, 23);
    EXPECT_EQ(info.infoByte25, 25);
    EXPECT_EQ(info.infoText, "ABCDEF") << "at most six characters";
    EXPECT_EQ(info.deviceAddress.text(), "10.0.0.7");
    EXPECT_EQ(info.infoByte37, 37);
    EXPECT_EQ(info.deviceName, "LC");
    EXPECT_EQ(foundLine(info.deviceName, info.deviceAddress), "FoundLC Ip: 10.0.0.7\n");
}

TEST(DeviceInfo, ShortDatagramReadsMissingBytesAsZero) {
    std::vector<std::byte> full = fullInfo("LC");
    // Cut inside the sample rate: its low byte is there, the rest reads as zero.
    const std::vector<std::byte> cut(full.begin(), full.begin() + 11);
    const DeviceInfo info = parseDeviceInfo(cut);
    EXPECT_EQ(info.sampleRate, 0x30);
    EXPECT_EQ(info.bufferMax, 0);
    EXPECT_EQ(info.deviceAddress, kAnyAddress);
    EXPECT_TRUE(info.deviceName.empty());
    EXPECT_TRUE(info.infoText.empty());

    // A name that runs to the end of the datagram without a terminator.
    full.resize(40);
    EXPECT_EQ(parseDeviceInfo(full).deviceName, "LC");
    EXPECT_EQ(parseDeviceInfo(std::vector<std::byte>{}).sampleRate, 0);
}

TEST(BufferFreeReport, ReadsBytesTwoAndThreeAndZeroWhenShort) {
    EXPECT_EQ(parseBufferFree(bytes({0x8A, 0x55, 0x10, 0x27})), 10000);
    EXPECT_EQ(parseBufferFree(bytes({0x8A, 0x00, 0x10})), 0x10);
    EXPECT_EQ(parseBufferFree(bytes({0x8A})), 0);
    EXPECT_EQ(parseBufferFree(bytes({0x8A, 0x00, 0xFF, 0xFF})), 65535) << "unsigned on the wire";
}

TEST(DeviceDatagram, DiscoveryNeedsThreeBytesAndTheInformationTag) {
    using Kind = DeviceDatagram::Kind;
    EXPECT_EQ(parseDeviceDatagram(bytes({0x77}), kDiscoveryInfoMinimum).kind, Kind::ignored)
        << "our own request echoed back";
    EXPECT_EQ(parseDeviceDatagram(bytes({0x77, 0}), kDiscoveryInfoMinimum).kind, Kind::ignored);
    EXPECT_EQ(parseDeviceDatagram(bytes({0x77, 0, 0}), kDiscoveryInfoMinimum).kind,
              Kind::deviceInfo);
    EXPECT_EQ(parseDeviceDatagram(bytes({0x78, 1, 0, 0}), kDiscoveryInfoMinimum).kind,
              Kind::ignored);
    EXPECT_EQ(parseDeviceDatagram({}, kDiscoveryInfoMinimum).kind, Kind::ignored);
}

TEST(DeviceDatagram, StreamingNeedsFourBytesForInformation) {
    using Kind = DeviceDatagram::Kind;
    EXPECT_EQ(parseDeviceDatagram(bytes({0x77, 0, 0}), kStreamingInfoMinimum).kind, Kind::ignored);
    EXPECT_EQ(parseDeviceDatagram(bytes({0x77, 0, 0, 0}), kStreamingInfoMinimum).kind,
              Kind::deviceInfo);
    const DeviceDatagram report =
        parseDeviceDatagram(bytes({0x8A, 0, 0x88, 0x13}), kStreamingInfoMinimum);
    EXPECT_EQ(report.kind, Kind::bufferFree);
    EXPECT_EQ(report.bufferFree, 5000);
    EXPECT_EQ(parseDeviceDatagram(bytes({0xA9, 0, 0, 0}), kStreamingInfoMinimum).kind,
              Kind::ignored);
}

} // namespace
} // namespace lumarok
