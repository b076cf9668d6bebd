#pragma once

#include <cstdint>

namespace lumarok {

// What a projector may plausibly state about itself. Anything outside is a lie or a
// broken datagram and is ignored: pacing on it would stop or flood the stream.
inline constexpr std::int32_t kMinSampleRate = 1000;   // samples per second
inline constexpr std::int32_t kMaxSampleRate = 100000; // samples per second
// The pacing reserve plus a whole packet must fit, and the size is a 16-bit field.
inline constexpr std::int32_t kMinBufferSize = 2000;  // samples
inline constexpr std::int32_t kMaxBufferSize = 65535; // samples
// Used until the device has stated plausible values of its own.
inline constexpr std::int32_t kDefaultSampleRate = 30000;
inline constexpr std::int32_t kDefaultBufferSize = 6000;

[[nodiscard]] constexpr bool plausibleSampleRate(std::int64_t rate) {
    return rate >= kMinSampleRate && rate <= kMaxSampleRate;
}
[[nodiscard]] constexpr bool plausibleBufferSize(std::int64_t size) {
    return size >= kMinBufferSize && size <= kMaxBufferSize;
}
[[nodiscard]] constexpr bool plausibleBufferFree(std::int64_t free, std::int32_t bufferMax) {
    return free >= 0 && free <= bufferMax;
}

} // namespace lumarok
