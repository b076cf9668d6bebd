#include "app/status_sender.hpp"

#include <arpa/inet.h>

#include <bit>
#include <charconv>
#include <stdexcept>
#include <system_error>

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

StatusTarget parseStatusTarget(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        throw std::invalid_argument("--status-to takes HOST:PORT, not '" + text + "'");
    }
    StatusTarget target{text.substr(0, colon), 0};
    in_addr address{};
    if (::inet_pton(AF_INET, target.host.c_str(), &address) != 1) {
        throw std::invalid_argument("--status-to wants a numeric IPv4 address, not '" +
                                    target.host + "'");
    }
    const std::uint32_t host = ntohl(address.s_addr);
    if (host == 0xFFFFFFFFu || host == 0 || (host >> 28) == 0xEu) {
        throw std::invalid_argument("--status-to sends to one host, not to '" + target.host + "'");
    }
    const std::string port = text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || error != std::errc{} || end != port.data() + port.size() || value == 0 ||
        value > 65535) {
        throw std::invalid_argument("--status-to wants a port from 1 to 65535, not '" + port + "'");
    }
    target.port = static_cast<std::uint16_t>(value);
    return target;
}

std::vector<std::byte> statusMessage(const ShowHealth& health) {
    OscWriter out;
    out.text("/lumarok/status");
    std::string tags = ",fsiifi";
    for (std::size_t i = 0; i < health.projectors.size(); ++i) {
        tags += "sfiis";
    }
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
    return std::move(out.bytes);
}

StatusSender::StatusSender(const std::vector<StatusTarget>& chosen)
    : targets(chosen), complaints(chosen.size(), RateLimitedLine(std::chrono::seconds(10))) {
    if (!targets.empty()) {
        socket.emplace(1); // non-blocking: the show never waits for the desk
    }
}

void StatusSender::send(const ShowHealth& health) {
    if (!socket) {
        return;
    }
    const std::vector<std::byte> message = statusMessage(health);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        try {
            socket->sendTo(targets[i].host, targets[i].port, message);
        } catch (const std::exception& e) {
            complaints[i].print("status to " + targets[i].host + ":" +
                                std::to_string(targets[i].port) + " not sent: " + e.what());
        }
    }
}

} // namespace lumarok
