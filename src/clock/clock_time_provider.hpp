#pragma once

#include "clock/time_provider.hpp"

#include <cstdint>

namespace lumarok {

// Seconds on the steady clock since construction.
class ClockTimeProvider final : public TimeProvider {
public:
    ClockTimeProvider();
    [[nodiscard]] double getTime() override;

private:
    std::int64_t startNs; // steady clock reading at construction, nanoseconds
};

} // namespace lumarok
