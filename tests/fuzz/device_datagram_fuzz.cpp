// Feeds arbitrary datagrams to the device datagram handler, in both the discovery
// and the streaming reading, and checks what a link would take from them.
#include "laser/device_datagram.hpp"

#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> datagram(reinterpret_cast<const std::byte*>(data), size);
    for (const std::size_t minimum :
         {lumarok::kDiscoveryInfoMinimum, lumarok::kStreamingInfoMinimum}) {
        const lumarok::DeviceDatagram parsed = lumarok::parseDeviceDatagram(datagram, minimum);
        if (parsed.kind == lumarok::DeviceDatagram::Kind::deviceInfo) {
            const lumarok::DeviceInfo& info = parsed.info;
            // Every text stays inside the datagram; fields come from 16 bits at most.
            if (info.infoText.size() > 6 || info.deviceName.size() > size || info.bufferFree < 0 ||
                info.bufferFree > 65535 || info.bufferMax < 0 || info.bufferMax > 65535) {
                std::abort();
            }
        } else if (parsed.kind == lumarok::DeviceDatagram::Kind::bufferFree &&
                   (parsed.bufferFree < 0 || parsed.bufferFree > 65535)) {
            std::abort();
        }
    }
    return 0;
}
