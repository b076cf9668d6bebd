#include "app/stop_signals.hpp"

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace lumarok {

namespace {

// A signal handler can reach only static storage; a lock-free atomic is safe there.
std::atomic<bool> gStopRequested{false};
std::atomic<bool> gHandlerInstalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onStopSignal(int /*signal*/) {
    gStopRequested.store(true);
}

} // namespace

StopSignals::StopSignals() {
    if (gHandlerInstalled.exchange(true)) {
        throw std::logic_error("stop signal handlers are already installed");
    }
    gStopRequested.store(false);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    if (sigaction(SIGINT, &action, &previousInt) != 0) {
        gHandlerInstalled.store(false);
        throw std::system_error(errno, std::generic_category(), "Cannot install SIGINT handler");
    }
    if (sigaction(SIGTERM, &action, &previousTerm) != 0) {
        const int error = errno;
        sigaction(SIGINT, &previousInt, nullptr);
        gHandlerInstalled.store(false);
        throw std::system_error(error, std::generic_category(), "Cannot install SIGTERM handler");
    }
}

StopSignals::~StopSignals() {
    sigaction(SIGTERM, &previousTerm, nullptr);
    sigaction(SIGINT, &previousInt, nullptr);
    gHandlerInstalled.store(false);
}

const std::atomic<bool>& StopSignals::stopRequested() const {
    return gStopRequested;
}

} // namespace lumarok
