#pragma once

#include <array>
#include <atomic>
#include <csignal>

namespace lumarok {

// While alive, SIGINT, SIGTERM, SIGHUP (terminal closed, SSH dropped) and SIGQUIT
// set a flag instead of ending the process, so laser mode can darken the beam and
// switch the projector off before it exits; SIGPIPE is ignored. The handlers only
// set the flag; the laser mode decides the stop in one place. Installed without
// SA_RESTART: a blocking receive returns early and can look at the flag.
// One instance at a time; the previous handlers come back on destruction.
class StopSignals final {
public:
    static constexpr std::array<int, 4> kStopSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    [[nodiscard]] const std::atomic<bool>& stopRequested() const;

private:
    void restore(std::size_t installed);

    std::array<struct sigaction, kStopSignals.size()> previous{};
    struct sigaction previousPipe {};
};

} // namespace lumarok
