#pragma once

#include <atomic>
#include <csignal>

namespace lumarok {

// While alive, SIGINT and SIGTERM set a flag instead of ending the process, so laser
// mode can switch the projector off before it exits. Handlers are installed without
// SA_RESTART: a blocking receive returns early and can look at the flag.
// One instance at a time; the previous handlers come back on destruction.
class StopSignals final {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    [[nodiscard]] const std::atomic<bool>& stopRequested() const;

private:
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
};

} // namespace lumarok
