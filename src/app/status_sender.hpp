#pragma once

#include "app/show_health.hpp"
#include "clock/udp_socket.hpp"
#include "laser/device_checks.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {

// Where --status-to sends: a numeric IPv4 address and a UDP port.
struct StatusTarget {
    std::string host;
    std::uint16_t port = 0;
};

// Reads "HOST:PORT" (dotted IPv4 address, port 1..65535); throws std::invalid_argument.
[[nodiscard]] StatusTarget parseStatusTarget(const std::string& text);

// The OSC message /lumarok/status for one reading. Arguments, in order:
//   f show time (s), s clock source (steady|osc|ltc), i clock live (1|0),
//   i entry, f frames/s, i projector count N, then N times:
//   s name, f samples/s, i device free space (samples), i underruns inferred,
//   s state (waiting|playing|stalled|lost).
[[nodiscard]] std::vector<std::byte> statusMessage(const ShowHealth& health);

// Sends the status to every target, unicast only (the socket may not broadcast) and
// without ever waiting: a full socket buffer or an unreachable desk loses that message,
// with at most one line per target every 10 s. Thread: one.
class StatusSender {
public:
    explicit StatusSender(const std::vector<StatusTarget>& targets);
    void send(const ShowHealth& health);

private:
    std::vector<StatusTarget> targets;
    std::optional<UdpSocket> socket; // none without targets
    std::vector<RateLimitedLine> complaints;
};

} // namespace lumarok
