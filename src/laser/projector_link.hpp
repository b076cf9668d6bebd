#pragma once

#include "laser/laser_output.hpp"
#include "net/ipv4_address.hpp"

#include <cstdint>
#include <string>

namespace lumarok {

// A cheap copy of a link's counters and the device's last stated numbers.
struct LinkStats {
    std::uint64_t samplesSent = 0;
    std::uint64_t packetsSent = 0;
    std::uint64_t deviceReports = 0;    // buffer reports and informations heeded
    std::uint64_t datagramsHeard = 0;   // anything from the device, heeded or not
    std::uint64_t ignoredReports = 0;   // implausible numbers, short informations
    std::uint64_t impliedUnderruns = 0; // reports of an empty buffer after a fuller one
    std::uint64_t stalls = 0;
    std::int32_t bufferFree = 0; // the current estimate
    std::int32_t bufferMax = 0;
    std::int32_t sampleRate = 0;
    std::int64_t roundTripMicroseconds = 0; // as last measured; 0 until then
    bool sendFailing = false;               // transient send errors right now
};

// One kind of projector behind the laser output: what a projector's stream (its slot)
// needs of a link besides the output itself. Every kind keeps the output's rules: dark by
// construction, bounded waits, never more than the device's rate.
// Thread: as LaserOutput; stats(), name() and address() from any thread,
// askForInformation() from any but the sender's.
class ProjectorLink : public LaserOutput {
public:
    // Asks the device to say something, so that one that stopped reporting but still
    // answers is not lost. Never throws.
    virtual void askForInformation() = 0;
    [[nodiscard]] virtual LinkStats stats() const = 0;
    [[nodiscard]] virtual const std::string& name() const = 0;
    [[nodiscard]] virtual Ipv4Address address() const = 0;
};

} // namespace lumarok
