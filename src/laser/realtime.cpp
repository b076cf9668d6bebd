#include "laser/realtime.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>

namespace lumarok {

namespace {

constexpr int kCapIpcLock = 14;

bool mayLockWithoutLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY) {
        return true;
    }
    std::ifstream status("/proc/self/status");
    for (std::string key; status >> key;) {
        if (key == "CapEff:") {
            std::string hex;
            status >> hex;
            return ((std::stoull(hex, nullptr, 16) >> kCapIpcLock) & 1u) != 0;
        }
        status.ignore(4096, '\n');
    }
    return false;
}

} // namespace

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
    // Locking future pages under a finite limit would make later allocations fail
    // once the limit is reached; then only what is mapped now is locked.
    int flags = MCL_CURRENT;
    try {
        if (mayLockWithoutLimit()) {
            flags |= MCL_FUTURE;
        }
    } catch (const std::exception&) {
        // An unreadable status: lock only the present pages.
    }
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
