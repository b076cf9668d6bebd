#include "virtual_projector.hpp"

#include "laser/device_datagram.hpp"
#include "laser/sample_packets.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace lumarok {

namespace {

constexpr std::uint8_t kSwitchA = 0x78;
constexpr std::uint8_t kSwitchB = 0x80;

void putU16(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value) {
    bytes[offset] = static_cast<std::byte>(value & 0xFFu);
    bytes[offset + 1] = static_cast<std::byte>((value >> 8) & 0xFFu);
}

void putU32(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value) {
    putU16(bytes, offset, value & 0xFFFFu);
    putU16(bytes, offset + 2, value >> 16);
}

// In wire order: the first dotted number first.
void putAddress(std::vector<std::byte>& bytes, std::size_t offset, Ipv4Address address) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::byte>((address.hostOrder() >> (24 - 8 * i)) & 0xFFu);
    }
}

std::uint32_t wire16(std::int32_t value) {
    return static_cast<std::uint32_t>(std::clamp(value, 0, 65535));
}

} // namespace

VirtualProjector::VirtualProjector(Config settings)
    : VirtualProjector(std::move(settings), Lies{}) {}

VirtualProjector::VirtualProjector(Config settings, Lies told)
    : config(std::move(settings)), lies(std::move(told)) {}

std::vector<std::byte> VirtualProjector::deviceInfo(Ipv4Address ownAddress) const {
    std::vector<std::byte> info(38, std::byte{0});
    info[0] = std::byte{kDeviceInfoTag};
    info[3] = std::byte{1};
    info[5] = std::byte{static_cast<std::uint8_t>(isStreaming ? 1 : 0)};
    const std::int64_t rate =
        lies.claimedSampleRate >= 0 ? lies.claimedSampleRate : config.sampleRate;
    putU32(info, 10, static_cast<std::uint32_t>(rate));
    putU32(info, 14, static_cast<std::uint32_t>(config.sampleRate));
    putU16(info, 19, wire16(lies.reportedFree >= 0 ? lies.reportedFree : bufferFree()));
    putU16(info, 21,
           wire16(lies.claimedBufferSize >= 0 ? lies.claimedBufferSize : config.bufferSize));
    const char text[] = "virt";
    std::memcpy(info.data() + 26, text, sizeof text - 1);
    if (lies.claimedAddress) {
        putAddress(info, 32, *lies.claimedAddress);
    } else if (!config.hideAddress) {
        putAddress(info, 32, ownAddress);
    }
    for (const char c : config.name) {
        info.push_back(static_cast<std::byte>(c));
    }
    info.push_back(std::byte{0});
    return info;
}

std::vector<std::byte> VirtualProjector::bufferFreeReport() const {
    std::vector<std::byte> report(4, std::byte{0});
    report[0] = std::byte{kBufferFreeTag};
    putU16(report, 2, wire16(lies.reportedFree >= 0 ? lies.reportedFree : bufferFree()));
    return report;
}

std::string VirtualProjector::handleCommand(std::span<const std::byte> datagram,
                                            Clock::time_point now) {
    if (datagram.size() != 2) {
        return {};
    }
    const auto command = std::to_integer<std::uint8_t>(datagram[0]);
    if (command != kSwitchA && command != kSwitchB) {
        return {};
    }
    ++totals.switchCommands;
    const bool on = datagram[1] != std::byte{0};
    advance(now);
    settle(now);
    isOn = on;
    if (!on) {
        // The sender is done: running dry from here on is the end of the show.
        isStreaming = false;
        ranDry = false;
    }
    return std::string("switch ") + (command == kSwitchA ? "A" : "B") + (on ? " on" : " off");
}

void VirtualProjector::handleSampleData(std::span<const std::byte> datagram,
                                        Clock::time_point now) {
    advance(now);
    if (datagram.size() < kSampleDataHeaderBytes ||
        std::to_integer<std::uint8_t>(datagram[0]) != kSampleDataTag ||
        (datagram.size() - kSampleDataHeaderBytes) % sizeof(LaserSample) != 0) {
        ++totals.malformed;
        return;
    }
    const std::size_t count = (datagram.size() - kSampleDataHeaderBytes) / sizeof(LaserSample);
    const auto message = std::to_integer<std::uint8_t>(datagram[2]);
    const auto frame = std::to_integer<std::uint8_t>(datagram[3]);
    ++totals.packets;
    totals.samples += count;
    arrived.packet(now, count);
    if (haveMessage && message != static_cast<std::uint8_t>(lastMessage + 1)) {
        ++totals.messageGaps;
    }
    haveMessage = true;
    lastMessage = message;

    if (haveFrame && frame != current.frameCounter) {
        if (frame != static_cast<std::uint8_t>(current.frameCounter + 1)) {
            ++totals.frameGaps;
        }
        ++totals.frames;
        completed = std::move(current);
        current = Frame{};
        if (frameDone) {
            frameDone(completed);
        }
    }
    if (!haveFrame || current.samples.empty()) {
        current.frameCounter = frame;
        current.firstPacket = now;
        current.firstPlayed =
            now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                      static_cast<double>(queued) / config.sampleRate));
    }
    haveFrame = true;
    const std::size_t start = current.samples.size();
    current.samples.resize(start + count);
    std::memcpy(current.samples.data() + start, datagram.data() + kSampleDataHeaderBytes,
                count * sizeof(LaserSample));

    if (ranDry) {
        ++totals.underruns;
        ranDry = false;
    }
    settle(now);
    dry = false;
    const LaserSample& last = current.samples.back();
    lastLit = (last.r | last.g | last.b) != 0;
    if (!isStreaming) {
        isStreaming = true;
        lastAdvance = now;
        owed = 0.0;
    }
    const std::int64_t space = config.bufferSize - queued;
    const auto incoming = static_cast<std::int64_t>(count);
    if (incoming > space) {
        ++totals.overflows;
        totals.droppedSamples +=
            static_cast<std::uint64_t>(incoming - std::max<std::int64_t>(space, 0));
        queued = config.bufferSize;
    } else {
        queued += incoming;
    }
}

void VirtualProjector::advance(Clock::time_point now) {
    if (!isStreaming && queued == 0) {
        lastAdvance = now;
        return;
    }
    const Clock::time_point before = lastAdvance;
    const std::chrono::duration<double> elapsed = now - lastAdvance;
    lastAdvance = now;
    owed += std::max(0.0, elapsed.count()) * config.sampleRate;
    const auto due = static_cast<std::int64_t>(owed);
    owed -= static_cast<double>(due);
    if (due >= queued) {
        if (due > queued && isStreaming) {
            ranDry = true;
        }
        if (!dry && due > queued) {
            dry = true; // the last queued sample played out at this moment
            dryFrom =
                before + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                             static_cast<double>(queued) / config.sampleRate));
        }
        queued = 0;
        owed = 0.0; // a dry buffer owes nothing: the next sample plays when it comes
    } else {
        queued -= due;
    }
}

void VirtualProjector::settle(Clock::time_point now) {
    if (dry && lastLit && isOn && now > dryFrom) {
        totals.litStarved += now - dryFrom;
    }
    if (dry) {
        dryFrom = std::max(dryFrom, now);
    }
}

std::int32_t VirtualProjector::bufferFree() const {
    return static_cast<std::int32_t>(config.bufferSize - queued);
}

const std::vector<LaserSample>& VirtualProjector::lastFrame() const {
    return totals.frames > 0 ? completed.samples : current.samples;
}

} // namespace lumarok
