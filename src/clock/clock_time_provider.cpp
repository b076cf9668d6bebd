#include "clock/clock_time_provider.hpp"

#include <chrono>

namespace lumarok {

namespace {

std::int64_t steadyNowNs() {
    using std::chrono::nanoseconds;
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<nanoseconds>(sinceEpoch).count();
}

} // namespace

ClockTimeProvider::ClockTimeProvider() : startNs(steadyNowNs()) {}

double ClockTimeProvider::getTime() {
    return static_cast<double>(steadyNowNs() - startNs) / 1000000000.0;
}

} // namespace lumarok
