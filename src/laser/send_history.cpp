#include "laser/send_history.hpp"

namespace lumarok {

void SendHistory::record(Clock::time_point at, std::uint64_t total) {
    const std::size_t index = next.load(std::memory_order_relaxed);
    Entry& entry = entries[index % kEntries];
    entry.total.store(total, std::memory_order_relaxed);
    entry.at.store(at.time_since_epoch().count(), std::memory_order_release);
    next.store(index + 1, std::memory_order_release);
}

std::uint64_t SendHistory::sentSince(Clock::time_point since) const {
    const std::size_t last = next.load(std::memory_order_acquire);
    if (last == 0) {
        return 0;
    }
    const std::uint64_t newest = entries[(last - 1) % kEntries].total.load();
    const Clock::rep bound = since.time_since_epoch().count();
    // Newest first, back to the last send at or before `since`.
    const std::size_t reach = last < kEntries ? last : kEntries;
    std::uint64_t before = 0;
    for (std::size_t back = 1; back <= reach; ++back) {
        const Entry& entry = entries[(last - back) % kEntries];
        if (entry.at.load(std::memory_order_acquire) <= bound) {
            before = entry.total.load(std::memory_order_relaxed);
            return newest >= before ? newest - before : 0;
        }
    }
    // Older than the history: all of it was sent since, and more.
    const Entry& oldest = entries[(last - reach) % kEntries];
    before = oldest.total.load(std::memory_order_relaxed);
    return newest >= before ? newest - before : 0;
}

} // namespace lumarok
