#pragma once

#include <glm/vec2.hpp>

#include <cstddef>
#include <vector>

namespace lumarok {

// Bytes in one frame of the capture format: two interleaved 32-bit floats.
inline constexpr std::size_t kStereoFrameBytes = 2 * sizeof(float);

// Replaces frames with one packet of interleaved stereo floats. A null data
// pointer is a hole in the stream and becomes byteCount / kStereoFrameBytes
// silent frames (0, 0). A trailing partial frame is dropped, never read.
void decodeStereoPacket(const void* data, std::size_t byteCount, std::vector<glm::vec2>& frames);

// The server hands over recorded audio in pieces of any size (a few frames up to
// many packets' worth, sometimes split inside a frame). This gathers them into
// packets of a fixed frame count so that readers always see whole blocks.
class PacketAssembler {
public:
    explicit PacketAssembler(std::size_t packetFrames);

    // Appends one piece; a null data pointer is a hole of byteCount silent bytes.
    void append(const void* data, std::size_t byteCount);
    [[nodiscard]] bool hasPacket() const;
    // Replaces frames with the newest complete packet and discards every complete
    // packet gathered so far (older ones are out of date). Call only when hasPacket().
    void takeNewest(std::vector<glm::vec2>& frames);

private:
    std::size_t packetBytes;
    std::vector<unsigned char> pending;
};

} // namespace lumarok
