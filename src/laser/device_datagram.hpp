#pragma once

#include "net/ipv4_address.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace lumarok {

inline constexpr std::uint8_t kDeviceInfoTag = 0x77;
inline constexpr std::uint8_t kBufferFreeTag = 0x8A;

// Everything a device states about itself. Only sampleRate, bufferFree, bufferMax,
// deviceAddress and deviceName steer the link; the rest is kept for diagnostics.
struct DeviceInfo {
    std::uint8_t infoByte3 = 0;
    std::uint8_t infoByte4 = 0;
    bool infoFlag5 = false;
    std::int32_t sampleRate = 0;
    std::int32_t infoWord14 = 0;
    std::int32_t bufferFree = 0;
    std::int32_t bufferMax = 0;
    std::int32_t infoByte23 = 0;
    std::int32_t infoByte24 = 0;
    std::int32_t infoByte25 = 0;
    std::string infoText;
    Ipv4Address deviceAddress; // as the device states it
    std::int32_t infoByte37 = 0;
    std::string deviceName;
};

// Bytes beyond the end of a short datagram read as zero; nothing past it is read.
DeviceInfo parseDeviceInfo(std::span<const std::byte> datagram);

// The numbers of a device information that steer a stream, read without allocating (on
// the real-time sender's thread).
struct DeviceNumbers {
    std::int32_t sampleRate = 0;
    std::int32_t bufferFree = 0;
    std::int32_t bufferMax = 0;
    Ipv4Address address; // as the device states it
};
DeviceNumbers parseDeviceNumbers(std::span<const std::byte> datagram);
std::int32_t parseBufferFree(std::span<const std::byte> datagram);

// What one datagram from the device means to a link that has found its device.
struct DeviceDatagram {
    enum class Kind { ignored, deviceInfo, bufferFree };
    Kind kind = Kind::ignored;
    DeviceInfo info;             // valid for deviceInfo
    std::int32_t bufferFree = 0; // valid for bufferFree
};

// Discovery takes a device information of 3 bytes or more: a lone 0x77 is our own
// request coming back. After discovery an information needs 4 bytes.
inline constexpr std::size_t kDiscoveryInfoMinimum = 3;
inline constexpr std::size_t kStreamingInfoMinimum = 4;
DeviceDatagram parseDeviceDatagram(std::span<const std::byte> datagram, std::size_t infoMinimum);

} // namespace lumarok
