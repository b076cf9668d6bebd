#pragma once

#include "net/ipv4_address.hpp"
#include "net/udp_socket.hpp"
#include "show/show_control.hpp"
#include "status/show_health.hpp"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {

// Where live control is listened for and whom it is taken from.
struct ControlSettings {
    std::optional<std::uint16_t> port;        // --control-port; none: no control socket
    std::string address;                      // --control-address; empty: all
    std::vector<AddressRange> allowedSenders; // --control-from; empty: every sender
};

// Live control over OSC: reads the control socket (when there is one), takes the
// messages the /Time socket passes on, acts on them and answers /lumarok/status to
// the sender's address. A sender outside the allowed ranges changes nothing (one line
// at most every 10 s says so). Every change is one line on stderr.
// Thread: one (the renderer's).
class ControlInput {
public:
    // Throws the socket's std::system_error when the port cannot be had.
    ControlInput(const ControlSettings& settings, float startPercent);

    // Handles every datagram waiting; never waits.
    void poll();
    // One message from the /Time socket, whose sender was already allowed there.
    void take(const OscMessageView& message, Ipv4Endpoint source);
    // Answers the status requests heard since the last call with this reading.
    void answer(const ShowHealth& health);
    [[nodiscard]] bool asked() const { return !requesters.empty(); }
    [[nodiscard]] bool listening() const { return socket.has_value(); }
    [[nodiscard]] std::string listenText() const;

    ShowControl& state() { return control; }
    [[nodiscard]] const ShowControl& state() const { return control; }

private:
    [[nodiscard]] bool allowed(Ipv4Address address) const;

    ControlSettings settings;
    ShowControl control;
    std::optional<UdpSocket> socket;
    UdpSocket answers; // for requests that came on the /Time socket
    std::vector<Ipv4Endpoint> requesters;
    std::uint64_t refused = 0;
    std::chrono::steady_clock::time_point lastRefusalLine;
    alignas(4) std::array<std::byte, 1025> buffer{};
};

} // namespace lumarok
