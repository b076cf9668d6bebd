#include "laser/device_datagram.hpp"

#include <algorithm>
#include <string>

namespace lumarok {

namespace {

std::uint32_t byteAt(std::span<const std::byte> datagram, std::size_t offset) {
    return offset < datagram.size() ? std::to_integer<std::uint32_t>(datagram[offset]) : 0u;
}

std::uint32_t u16At(std::span<const std::byte> datagram, std::size_t offset) {
    return byteAt(datagram, offset) | byteAt(datagram, offset + 1) << 8;
}

std::uint32_t u32At(std::span<const std::byte> datagram, std::size_t offset) {
    return u16At(datagram, offset) | u16At(datagram, offset + 2) << 16;
}

// Four bytes in wire order, the first the address's top byte (its first dotted number).
Ipv4Address addressAt(std::span<const std::byte> datagram, std::size_t offset) {
    return Ipv4Address(byteAt(datagram, offset) << 24 | byteAt(datagram, offset + 1) << 16 |
                       byteAt(datagram, offset + 2) << 8 | byteAt(datagram, offset + 3));
}

// Characters from `offset` up to the first zero byte, the end of the datagram, or
// `maximum` characters, whichever comes first.
std::string textAt(std::span<const std::byte> datagram, std::size_t offset, std::size_t maximum) {
    std::string text;
    if (offset >= datagram.size()) {
        return text;
    }
    const std::size_t end = offset + std::min(maximum, datagram.size() - offset);
    for (std::size_t i = offset; i < end && datagram[i] != std::byte{0}; ++i) {
        text.push_back(static_cast<char>(datagram[i]));
    }
    return text;
}

} // namespace

DeviceInfo parseDeviceInfo(std::span<const std::byte> datagram) {
    DeviceInfo info;
    info.infoByte3 = static_cast<std::uint8_t>(byteAt(datagram, 3));
    info.infoByte4 = static_cast<std::uint8_t>(byteAt(datagram, 4));
    info.infoFlag5 = byteAt(datagram, 5) != 0;
    // Wider than the field on the wire: a rate above 2^31 reads negative and disables pacing.
    info.sampleRate = static_cast<std::int32_t>(u32At(datagram, 10));
    info.infoWord14 = static_cast<std::int32_t>(u32At(datagram, 14));
    info.bufferFree = static_cast<std::int32_t>(u16At(datagram, 19));
    info.bufferMax = static_cast<std::int32_t>(u16At(datagram, 21));
    info.infoByte23 = static_cast<std::int32_t>(byteAt(datagram, 23));
    info.infoByte24 = static_cast<std::int32_t>(byteAt(datagram, 24));
    info.infoByte25 = static_cast<std::int32_t>(byteAt(datagram, 25));
    info.infoText = textAt(datagram, 26, 6);
    info.deviceAddress = addressAt(datagram, 32);
    info.infoByte37 = static_cast<std::int32_t>(byteAt(datagram, 37));
    info.deviceName = textAt(datagram, 38, datagram.size());
    return info;
}

DeviceNumbers parseDeviceNumbers(std::span<const std::byte> datagram) {
    DeviceNumbers numbers;
    numbers.sampleRate = static_cast<std::int32_t>(u32At(datagram, 10));
    numbers.bufferFree = static_cast<std::int32_t>(u16At(datagram, 19));
    numbers.bufferMax = static_cast<std::int32_t>(u16At(datagram, 21));
    numbers.address = addressAt(datagram, 32);
    return numbers;
}

std::int32_t parseBufferFree(std::span<const std::byte> datagram) {
    return static_cast<std::int32_t>(u16At(datagram, 2));
}

DeviceDatagram parseDeviceDatagram(std::span<const std::byte> datagram, std::size_t infoMinimum) {
    DeviceDatagram result;
    if (datagram.empty()) {
        return result;
    }
    const auto tag = std::to_integer<std::uint8_t>(datagram[0]);
    if (tag == kDeviceInfoTag && datagram.size() >= infoMinimum) {
        result.kind = DeviceDatagram::Kind::deviceInfo;
        result.info = parseDeviceInfo(datagram);
    } else if (tag == kBufferFreeTag) {
        result.kind = DeviceDatagram::Kind::bufferFree;
        result.bufferFree = parseBufferFree(datagram);
    }
    return result;
}

} // namespace lumarok
