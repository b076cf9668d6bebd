#include "app/stop_signals.hpp"

#include <cerrno>
#include <stdexcept>
#include <string>
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
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        if (sigaction(kStopSignals[i], &action, &previous[i]) != 0) {
            const int error = errno;
            restore(i);
            gHandlerInstalled.store(false);
            throw std::system_error(error, std::generic_category(),
                                    "Cannot install the handler of signal " +
                                        std::to_string(kStopSignals[i]));
        }
    }
    // A write to a closed pipe (stdout piped into a program that ended) must not
    // end the show lit; the write fails with EPIPE instead.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGPIPE, &ignore, &previousPipe) != 0) {
        const int error = errno;
        restore(kStopSignals.size());
        gHandlerInstalled.store(false);
        throw std::system_error(error, std::generic_category(), "Cannot ignore SIGPIPE");
    }
}

void StopSignals::restore(std::size_t installed) {
    for (std::size_t i = installed; i-- > 0;) {
        sigaction(kStopSignals[i], &previous[i], nullptr);
    }
}

StopSignals::~StopSignals() {
    sigaction(SIGPIPE, &previousPipe, nullptr);
    restore(kStopSignals.size());
    gHandlerInstalled.store(false);
}

const std::atomic<bool>& StopSignals::stopRequested() const {
    return gStopRequested;
}

} // namespace lumarok
