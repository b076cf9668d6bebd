#pragma once

#include "core/rate_limited_line.hpp"
#include "net/ipv4_address.hpp"
#include "net/udp_socket.hpp"
#include "status/show_health.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {

// The OSC message /lumarok/status for one reading. Arguments, in order:
//   f show time (s), s clock source (steady|osc|ltc), i clock live (1|0),
//   i entry, f frames/s, i projector count N, then N times:
//   s name, f samples/s, i device free space (samples), i underruns inferred,
//   s state (waiting|playing|stalled|lost),
// then s clock state (live|waiting|stale): "clock live" is 1 only while it is live, so
// a reader of the older message sees a waiting or stale clock as one giving no time.
[[nodiscard]] std::vector<std::byte> statusMessage(const ShowHealth& health);

// Sends the status to every target, unicast only (the socket may not broadcast) and
// without ever waiting: a full socket buffer or an unreachable desk loses that message,
// with at most one line every 10 s for all targets together (it names the last target
// that failed and how many failures it holds back). Thread: one.
class StatusSender {
public:
    explicit StatusSender(const std::vector<Ipv4Endpoint>& targets);
    void send(const ShowHealth& health);

private:
    std::vector<Ipv4Endpoint> targets;
    std::optional<UdpSocket> socket; // none without targets
    RateLimitedLine complaint;
};

} // namespace lumarok
