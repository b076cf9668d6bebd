#include "laser/realtime.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

namespace lumarok {

bool raiseToRealtime(int priority) {
    sched_param parameter{};
    parameter.sched_priority = priority;
    return ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &parameter) == 0;
}

std::string enterRealtime() {
    std::string refused;
    sched_param parameter{};
    parameter.sched_priority = kSenderPriority;
    if (const int error = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &parameter);
        error != 0) {
        refused = "real-time scheduling refused (" + std::string(std::strerror(error)) + ")";
    }
    // Only what is mapped now, the sender's buffers included. Locking future pages
    // too would make every later mapping resident at once: the audio library maps a
    // pool of tens of megabytes for each connection attempt, and under a finite limit
    // later allocations would fail.
    const int flags = MCL_CURRENT;
    if (::mlockall(flags) != 0) {
        const int error = errno;
        refused += std::string(refused.empty() ? "" : "; ") + "memory not locked (" +
                   std::strerror(error) + ")";
    }
    if (!refused.empty()) {
        refused += "; the laser sender goes on without (see README on real-time scheduling)";
    }
    return refused;
}

} // namespace lumarok
