// Fuzz target for the OSC packet parser: any datagram either updates the time, leaves it, or
// raises one of the parser's errors; it never reads outside the bytes given, never recurses
// without bound and never stores a non-finite time.
#include "net/osc_packet.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr float kStart = 123.0F;
    float lastTime = kStart;
    try {
        const auto* bytes = reinterpret_cast<const std::byte*>(data);
        lumarok::handlePacket(lumarok::makePacketView(bytes, size), lastTime);
    } catch (const OSCPP::Error&) {
    } catch (const std::runtime_error&) {
    }
    if (!std::isfinite(lastTime)) {
        std::abort();
    }
    return 0;
}
