#include "laser/pacing.hpp"

#include <cmath>

namespace lumarok {

bool needsPacing(std::int32_t bufferFree, std::int32_t bufferMax, std::int32_t reserve) {
    // 64 bits: a bufferMax near the bottom of the range must not wrap the threshold.
    return static_cast<std::int64_t>(bufferFree) <
           static_cast<std::int64_t>(bufferMax) -
               (reserve < 0 ? pacingReserve(bufferMax) : reserve);
}

std::chrono::microseconds pacingSleep(std::int64_t samples, std::int32_t sampleRate) {
    if (sampleRate <= 0 || samples <= 0) {
        return std::chrono::microseconds{0};
    }
    const double micros = std::ceil(1e6 * static_cast<double>(samples) / sampleRate);
    const std::chrono::microseconds longest = kLongestPacingSleep;
    return std::chrono::microseconds{
        static_cast<std::int64_t>(std::min(micros, static_cast<double>(longest.count())))};
}

std::int32_t samplesPlayed(std::chrono::nanoseconds elapsed, std::int32_t sampleRate) {
    if (sampleRate <= 0 || elapsed.count() <= 0) {
        return 0;
    }
    const double played =
        std::round(static_cast<double>(elapsed.count()) * 1e-9 * static_cast<double>(sampleRate));
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::min(played, kMax));
}

namespace {

void creditPlayed(BufferEstimate& estimate, std::int32_t bufferMax, std::int32_t sampleRate,
                  std::chrono::nanoseconds elapsed) {
    std::int32_t free = estimate.bufferFree.load();
    if (free >= bufferMax) {
        return;
    }
    const std::int64_t credited =
        static_cast<std::int64_t>(free) + samplesPlayed(elapsed, sampleRate);
    const auto next = static_cast<std::int32_t>(std::min<std::int64_t>(credited, bufferMax));
    // Fails only when a report lands right now; the report wins.
    estimate.bufferFree.compare_exchange_strong(free, next);
}

} // namespace

void creditSinceReport(BufferEstimate& estimate, std::int32_t bufferMax, std::int32_t sampleRate,
                       BufferEstimate::Clock::time_point now) {
    creditPlayed(estimate, bufferMax, sampleRate, now - estimate.lastReport());
}

void IdleCredit::credit(BufferEstimate& estimate, std::int32_t bufferMax, std::int32_t sampleRate,
                        Clock::time_point now) const {
    if (!started) {
        return;
    }
    // After a report, the estimate is the device's own count as of when it wrote it:
    // credit from then (a report that took long on the way was written long ago).
    const bool reported = estimate.reportSerial.load() != serial;
    creditPlayed(estimate, bufferMax, sampleRate, now - (reported ? estimate.lastReport() : since));
}

void IdleCredit::restart(const BufferEstimate& estimate, Clock::time_point now) {
    since = now;
    serial = estimate.reportSerial.load();
    started = true;
}

} // namespace lumarok
