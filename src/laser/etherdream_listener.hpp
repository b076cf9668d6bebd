#pragma once

#include "laser/etherdream_link.hpp"
#include "net/ipv4_address.hpp"
#include "net/udp_socket.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace lumarok {

// Hears the DACs' status broadcasts (UDP 7654, once a second each). It only listens:
// nothing is sent. Several listeners in one process share the port, and each hears
// every broadcast. Every wait ends within 50 ms of a stop.
// Thread: one at a time.
class EtherDreamListener {
public:
    // Throws std::system_error when the port cannot be had.
    EtherDreamListener();
    EtherDreamListener(const EtherDreamListener&) = delete;
    EtherDreamListener& operator=(const EtherDreamListener&) = delete;

    // The next broadcast from `address` (nullopt: any DAC); nullopt when `until` passes
    // or a flag is raised first.
    std::optional<EtherDreamFound> next(std::optional<Ipv4Address> address,
                                        std::chrono::steady_clock::time_point until,
                                        const std::atomic<bool>& stop,
                                        const std::atomic<bool>& cancel);
    // Every DAC heard within `duration`, one per address, in order of address.
    std::vector<EtherDreamFound> collect(std::chrono::milliseconds duration,
                                         const std::atomic<bool>& stop);

private:
    UdpSocket socket;
};

// "etherdream:ADDR" names a DAC by its address; the address, or nullopt for any other
// word. Throws std::invalid_argument for a prefix without an
// IPv4 address.
[[nodiscard]] std::optional<Ipv4Address> etherDreamAddress(const std::string& word);

// The --list-projectors line: "etherdream NAME ADDRESS rate buffer ...".
[[nodiscard]] std::string describeEtherDream(const EtherDreamFound& found);

} // namespace lumarok
