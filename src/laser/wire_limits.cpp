#include "laser/wire_limits.hpp"

#include <algorithm>

namespace lumarok {

void WireLimits::refill(std::int32_t sampleRate, std::int32_t capacity, Clock::time_point now) {
    if (!started) {
        tokens = capacity;
        refilledAt = now;
        started = true;
        return;
    }
    const double elapsed = std::chrono::duration<double>(now - refilledAt).count();
    tokens = std::min<double>(capacity, tokens + std::max(0.0, elapsed) * sampleRate);
    refilledAt = now;
}

WireLimits::Permit WireLimits::permit(std::span<const std::size_t> sampleCounts,
                                      std::int32_t sampleRate, std::int32_t capacity,
                                      Clock::time_point now) {
    refill(sampleRate, capacity, now);
    if (now - lastSent >= kBurstGap) {
        burstPackets = 0;
    }
    Permit result;
    if (burstPackets >= kMaxBurstPackets) {
        result.retryAt = lastSent + kBurstGap;
        return result;
    }
    double left = tokens;
    const std::size_t room = kMaxBurstPackets - burstPackets;
    while (result.packets < std::min(room, sampleCounts.size()) &&
           left >= static_cast<double>(sampleCounts[result.packets])) {
        left -= static_cast<double>(sampleCounts[result.packets]);
        ++result.packets;
    }
    if (result.packets == 0 && !sampleCounts.empty() && sampleRate > 0) {
        const double missing = static_cast<double>(sampleCounts[0]) - tokens;
        result.retryAt = now + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(missing / sampleRate));
    } else if (result.packets == 0) {
        result.retryAt = now + kBurstGap;
    }
    return result;
}

void WireLimits::sent(std::span<const std::size_t> sampleCounts, Clock::time_point now) {
    for (const std::size_t samples : sampleCounts) {
        tokens -= static_cast<double>(samples);
    }
    burstPackets += sampleCounts.size();
    lastSent = now;
}

} // namespace lumarok
