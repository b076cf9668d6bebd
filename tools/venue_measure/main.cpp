// Plays the demo show's laser frames back to back as one projector at 30,000 samples/s
// takes them (each frame's time is the previous one's plus its length), through the
// default static-beam guard, and prints the longest time its lit samples stayed within
// the guard's square and where, and the frame whose lit samples span the smallest
// square; then the time the zones stage takes per frame for keep-out stars of several
// sizes and counts, up to the bounds a venue file may ask. Usage:
// lumarok_venue_measure [DATA_DIR]
#include "clock/remap_time.hpp"
#include "export/ilda_export.hpp"
#include "laser/laser_frame.hpp"
#include "laser/show_frame.hpp"
#include "laser/static_guard.hpp"
#include "laser/venue_file.hpp"
#include "laser/venue_zones.hpp"
#include "show/show_objects.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace lumarok {
namespace {

constexpr double kRate = 30000.0;

// A star-shaped outline round the centre with `points` corners: every lit line
// across the middle crosses it many times.
Zone star(std::size_t points, ZoneKind kind) {
    Zone zone{kind, 100.0, {}};
    for (std::size_t i = 0; i < points; ++i) {
        const double angle = 2.0 * 3.14159265358979 * static_cast<double>(i) / points;
        const double radius = i % 2 == 0 ? 1800.0 : 600.0;
        zone.points.push_back(
            {2047.5 + radius * std::cos(angle), 2047.5 + radius * std::sin(angle)});
    }
    return zone;
}

int run(const char* folder) {
    ShowObjects show;
    show.load(folder, false, {});
    const ShowSources sources{*show.gAnimation, *show.gRemapTable, *show.gTimeline};
    const double end = clockTimeForShowTime(*show.gRemapTable, showEndSeconds(sources));
    StaticGuard guard(StaticGuardSettings{});
    std::vector<LaserSample> samples;
    glm::vec2 beam{0.0f, 0.0f};
    double clock = 0.0;
    double longest = 0.0;
    double longestAt = 0.0;
    int trips = 0;
    int smallest = 4096; // the smallest square any frame's lit samples fit in
    double smallestAt = 0.0;
    std::size_t frames = 0;
    std::vector<std::vector<LaserSample>> kept; // every 10th frame, for the zone timing
    ShowFrameBuffers buffers;
    while (clock < end) {
        const ColorFrame& frame =
            renderShowFrame(sources, remapTime(*show.gRemapTable, clock), buffers);
        beam = buildLaserFramePath(frame, samples, beam, 0.1f, buffers.pathLengths).beamPosition;
        const auto now = StaticGuard::Clock::time_point{} +
                         std::chrono::duration_cast<StaticGuard::Clock::duration>(
                             std::chrono::duration<double>(clock));
        int left = 4095, top = 4095, right = 0, bottom = 0;
        for (const LaserSample& s : samples) {
            if (s.r != 0 || s.g != 0 || s.b != 0) {
                left = std::min<int>(left, s.x);
                right = std::max<int>(right, s.x);
                top = std::min<int>(top, s.y);
                bottom = std::max<int>(bottom, s.y);
            }
        }
        const int extent = std::max(right - left, bottom - top);
        if (extent >= 0 && extent < smallest) {
            smallest = extent;
            smallestAt = clock;
        }
        trips += guard.apply(samples, now) == StaticGuard::Change::tripped ? 1 : 0;
        const double still = std::chrono::duration<double>(guard.stillFor()).count();
        if (still > longest) {
            longest = still;
            longestAt = clock;
        }
        if (frames++ % 10 == 0) {
            kept.push_back(samples);
        }
        // An empty frame: the sender feeds 1,200 dark samples meanwhile.
        clock += static_cast<double>(std::max<std::size_t>(samples.size(), 1200)) / kRate;
    }
    std::printf("%zu frames over %.1f s; guard trips: %d; longest still: %.1f ms at clock %.3f s "
                "(entry %zu)\n",
                frames, end, trips, longest * 1000.0, longestAt,
                show.gTimeline->selectedIndex(remapTime(*show.gRemapTable, longestAt)));
    std::printf("smallest lit frame: within %d units (%.1f %% of the width) at clock %.3f s "
                "(entry %zu)\n",
                smallest, smallest * 100.0 / 4095.0, smallestAt,
                show.gTimeline->selectedIndex(remapTime(*show.gRemapTable, smallestAt)));
    const std::pair<std::size_t, std::size_t> sets[] = {{1, 16}, {1, 64},  {1, 256},
                                                        {4, 64}, {16, 16}, {kMaxZones, 4}};
    for (const auto& [zones, points] : sets) {
        std::vector<Zone> fence(zones, star(points, ZoneKind::keepOut));
        std::vector<LaserSample> out;
        double worst = 0.0;
        double total = 0.0;
        for (const auto& f : kept) {
            const auto start = std::chrono::steady_clock::now();
            applyZones(fence, f, out);
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            worst = std::max(worst, ms);
            total += ms;
        }
        std::printf("%zu zone(s) of %zu points: %.2f ms per frame on average, %.2f ms at worst "
                    "(%zu frames)\n",
                    zones, points, total / kept.size(), worst, kept.size());
    }
    show.shutdown();
    return 0;
}

} // namespace
} // namespace lumarok

int main(int argc, char** argv) {
    return lumarok::run(argc > 1 ? argv[1] : LUMAROK_SOURCE_DIR "/data");
}
