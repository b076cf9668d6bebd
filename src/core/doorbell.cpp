#include "core/doorbell.hpp"

#include <cerrno>
#include <climits>
#include <ctime>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumarok {

namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

long futex(const std::atomic<std::uint32_t>& word, int operation, std::uint32_t value,
           const timespec* timeout) {
    // The kernel reads the word only; the cast is the futex interface's.
    return ::syscall(SYS_futex, const_cast<std::atomic<std::uint32_t>*>(&word),
                     operation | FUTEX_PRIVATE_FLAG, value, timeout, nullptr, 0);
}

} // namespace

void Doorbell::ring() {
    count.fetch_add(1, std::memory_order_acq_rel);
    (void)futex(count, FUTEX_WAKE, INT_MAX, nullptr);
}

void Doorbell::waitPast(std::uint32_t seen, Clock::time_point deadline) const {
    for (;;) {
        if (rings() != seen) {
            return;
        }
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return;
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const auto nanoseconds =
            std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>(nanoseconds.count())};
        // Returns at once when the count moved since it was read above.
        (void)futex(count, FUTEX_WAIT, seen, &timeout);
    }
}

} // namespace lumarok
