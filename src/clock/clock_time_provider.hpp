#pragma once

#include "clock/time_provider.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace lumarok {

// Seconds on the steady clock since construction.
class ClockTimeProvider final : public TimeProvider {
public:
    ClockTimeProvider();
    [[nodiscard]] double getTime() override;
    [[nodiscard]] const char* sourceName() const override { return "steady"; }
    [[nodiscard]] const char* heardName() const override { return "time"; } // never waits
    [[nodiscard]] std::optional<double> silentSeconds() const override { return 0.0; }
    [[nodiscard]] std::string readoutText() const override { return "clock steady"; }
    // Exact: the steady clock is this clock.
    [[nodiscard]] double timeAt(std::chrono::steady_clock::time_point moment) override;

private:
    std::int64_t startNs; // steady clock reading at construction, nanoseconds
};

} // namespace lumarok
