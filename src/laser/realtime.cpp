#include "laser/realtime.hpp"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

namespace lumarok {

bool raiseToRealtime(int priority) {
    sched_param parameter{};
    parameter.sched_priority = priority;
    return ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &parameter) == 0;
}

const char* enterRealtime() {
    if (raiseToRealtime(kSenderPriority)) {
        return nullptr;
    }
    return "real-time scheduling refused; the laser sender goes on at normal priority (see "
           "README on real-time scheduling)";
}

const char* lockMemory() {
    // Only what is mapped now, the sender's buffers included. Locking future pages
    // too would make every later mapping resident at once: the audio library maps a
    // pool of tens of megabytes for each connection attempt, and under a finite limit
    // later allocations would fail.
    if (::mlockall(MCL_CURRENT) == 0) {
        return nullptr;
    }
    return "memory not locked; the laser sender goes on without (see README on real-time "
           "scheduling)";
}

} // namespace lumarok
