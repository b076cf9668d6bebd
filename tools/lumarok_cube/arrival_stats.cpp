#include "arrival_stats.hpp"

#include <algorithm>

namespace lumarok {

void ArrivalStats::packet(Clock::time_point arrival, std::uint64_t samples) {
    burst = any && arrival - previous < kBurstGap ? burst + 1 : 1;
    any = true;
    previous = arrival;
    largest = std::max(largest, burst);

    // The window ends at this arrival and holds what came less than 100 ms before it.
    window.emplace_back(arrival, samples);
    inWindow += samples;
    while (arrival - window.front().first >= kWindow) {
        inWindow -= window.front().second;
        window.pop_front();
    }
    mostInWindow = std::max(mostInWindow, inWindow);
}

} // namespace lumarok
