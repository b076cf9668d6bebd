#include "audio/audio_packet.hpp"

#include <algorithm>
#include <cstring>

namespace lumarok {

void decodeStereoPacket(const void* data, std::size_t byteCount, std::vector<glm::vec2>& frames) {
    const std::size_t frameCount = byteCount / kStereoFrameBytes;
    frames.resize(frameCount);
    if (data == nullptr) {
        std::fill(frames.begin(), frames.end(), glm::vec2(0.0f, 0.0f));
        return;
    }
    // The server's buffer carries no alignment promise for floats, so copy bytes.
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < frameCount; ++i) {
        float pair[2];
        std::memcpy(pair, bytes + i * kStereoFrameBytes, kStereoFrameBytes);
        frames[i] = glm::vec2(pair[0], pair[1]);
    }
}

PacketAssembler::PacketAssembler(std::size_t packetFrames)
    : packetBytes(std::max<std::size_t>(packetFrames, 1) * kStereoFrameBytes) {
    pending.reserve(4 * packetBytes);
}

void PacketAssembler::append(const void* data, std::size_t byteCount) {
    if (data == nullptr) {
        pending.insert(pending.end(), byteCount, 0); // all-zero bytes are 0.0f
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    pending.insert(pending.end(), bytes, bytes + byteCount);
}

bool PacketAssembler::hasPacket() const {
    return pending.size() >= packetBytes;
}

void PacketAssembler::takeNewest(std::vector<glm::vec2>& frames) {
    const std::size_t complete = pending.size() / packetBytes;
    if (complete == 0) {
        return;
    }
    const std::size_t newestOffset = (complete - 1) * packetBytes;
    decodeStereoPacket(pending.data() + newestOffset, packetBytes, frames);
    // Keep the partial packet that follows; it starts the next one.
    pending.erase(pending.begin(),
                  pending.begin() + static_cast<std::ptrdiff_t>(complete * packetBytes));
}

} // namespace lumarok
