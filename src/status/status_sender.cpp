#include "status/status_sender.hpp"

#include <bit>

namespace lumarok {

namespace {

class OscWriter {
public:
    void text(const std::string& value) {
        for (const char c : value) {
            bytes.push_back(static_cast<std::byte>(c));
        }
        // A terminating zero, then zeros to a multiple of four.
        do {
            bytes.push_back(std::byte{0});
        } while (bytes.size() % 4 != 0);
    }
    void int32(std::int32_t value) { word(static_cast<std::uint32_t>(value)); }
    void float32(float value) { word(std::bit_cast<std::uint32_t>(value)); }
    std::vector<std::byte> bytes;

private:
    void word(std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<std::byte>((value >> shift) & 0xFFu));
        }
    }
};

std::int32_t clampedInt(std::uint64_t value) {
    return value > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(value);
}

} // namespace

std::vector<std::byte> statusMessage(const ShowHealth& health) {
    OscWriter out;
    out.text("/lumarok/status");
    std::string tags = ",fsiifi";
    for (std::size_t i = 0; i < health.projectors.size(); ++i) {
        tags += "sfiis";
    }
    tags += "s";
    out.text(tags);
    out.float32(static_cast<float>(health.showSeconds));
    out.text(health.clockSource);
    out.int32(health.clockLive ? 1 : 0);
    out.int32(clampedInt(health.entry));
    out.float32(static_cast<float>(health.framesPerSecond));
    out.int32(clampedInt(health.projectors.size()));
    for (const ProjectorHealth& p : health.projectors) {
        out.text(p.name);
        out.float32(static_cast<float>(p.samplesPerSecond));
        out.int32(p.bufferFree);
        out.int32(clampedInt(p.underruns));
        out.text(stateName(p.state));
    }
    out.text(clockStateName(health.clockState));
    return std::move(out.bytes);
}

StatusSender::StatusSender(const std::vector<Ipv4Endpoint>& chosen)
    : targets(chosen), complaint(std::chrono::seconds(10)) {
    if (!targets.empty()) {
        socket.emplace(1); // non-blocking: the show never waits for the desk
    }
}

void StatusSender::send(const ShowHealth& health) {
    if (!socket) {
        return;
    }
    const std::vector<std::byte> message = statusMessage(health);
    for (const Ipv4Endpoint& target : targets) {
        try {
            socket->sendTo(target, message);
        } catch (const std::exception& e) {
            complaint.print("status to " + target.text() + " not sent: " + e.what());
        }
    }
}

} // namespace lumarok
