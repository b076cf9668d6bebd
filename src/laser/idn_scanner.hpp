#pragma once

#include "laser/idn_link.hpp"
#include "net/ipv4_address.hpp"
#include "net/udp_socket.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {

// "idn:ADDR[/SERVICE]": a unit by its address and, optionally, its service by name or
// number.
struct IdnWord {
    Ipv4Address address;
    std::string service; // empty: the unit's default laser service
};
// Nullopt for any other word; throws std::invalid_argument for "idn:" without an IPv4
// address.
[[nodiscard]] std::optional<IdnWord> idnWord(const std::string& word);

// Asks IDN units for themselves (scan, then service map) from a port of its own.
// Every wait ends within 50 ms of a stop. Thread: one at a time.
class IdnScanner {
public:
    IdnScanner();
    IdnScanner(const IdnScanner&) = delete;
    IdnScanner& operator=(const IdnScanner&) = delete;

    // Asks the unit at `wanted.address` every 250 ms until it offers the wanted laser
    // service and takes a client; nullopt when `until` passes or a flag is raised.
    // `status` is set to the last unit status heard (occupied, excluded...).
    std::optional<IdnFound> find(const IdnWord& wanted, std::chrono::steady_clock::time_point until,
                                 const std::atomic<bool>& stop, const std::atomic<bool>& cancel,
                                 std::uint8_t& status);
    // Every unit that answers a scan sent to each interface's broadcast address within
    // `duration`, with its default laser service.
    std::vector<IdnFound> collect(std::chrono::milliseconds duration,
                                  const std::atomic<bool>& stop);

private:
    void ask(Ipv4Address address, idn::Hello command);
    UdpSocket socket;
    std::uint16_t sequence = 0;
};

// "occupied", "excluded", "offline", "malfunction" for the bits set, or empty.
[[nodiscard]] std::string idnStatusWords(std::uint8_t status);
// The --list-projectors line: "idn NAME ADDRESS ...".
[[nodiscard]] std::string describeIdn(const IdnFound& found);

} // namespace lumarok
