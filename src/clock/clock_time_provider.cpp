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

double ClockTimeProvider::timeAt(std::chrono::steady_clock::time_point moment) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(moment.time_since_epoch());
    return static_cast<double>(ns.count() - startNs) / 1000000000.0;
}

} // namespace lumarok
