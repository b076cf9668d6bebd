#pragma once

#include "clock/time_provider.hpp"

#include <cstdint>

namespace lumarok {

// Seconds on the steady clock since construction.
class ClockTimeProvider final : public TimeProvider {
public:
    ClockTimeProvider();
    [[nodiscard]] double getTime() override;
    // Exact: the steady clock is this clock.
    [[nodiscard]] double timeAt(std::chrono::steady_clock::time_point moment) override;

private:
    std::int64_t startNs; // steady clock reading at construction, nanoseconds
};

} // namespace lumarok
