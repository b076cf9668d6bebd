#include "export/ilda_export.hpp"

#include "anim/animation.hpp"
#include "clock/remap_time.hpp"
#include "export/replacing_file.hpp"
#include "laser/ilda_writer.hpp"
#include "laser/laser_frame.hpp"
#include "laser/projector_correction.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace lumarok {

namespace {

constexpr double kAnimationFrameSeconds = 0.04;
constexpr std::size_t kMaxIldaFrames = 65535;

// Rewrites one line in place on a terminal; elsewhere (a log) one line a second.
class ProgressLine final {
public:
    ProgressLine(std::FILE* stream_, std::size_t total_)
        : stream(stream_), total(total_), terminal(stream_ != nullptr && isatty(fileno(stream_))),
          last(std::chrono::steady_clock::now()) {}

    void update(std::size_t done) {
        const auto now = std::chrono::steady_clock::now();
        if (stream == nullptr || now - last < std::chrono::seconds(1)) {
            return;
        }
        last = now;
        shown = true;
        std::fprintf(stream, "ILDA export: frame %zu of %zu (%zu%%)%c", done, total,
                     done * 100 / total, terminal ? '\r' : '\n');
        std::fflush(stream);
    }

    void done() {
        if (shown) {
            std::fprintf(stream, "ILDA export: %zu frames written\n", total);
        }
    }

private:
    std::FILE* stream;
    std::size_t total;
    bool terminal;
    std::chrono::steady_clock::time_point last;
    bool shown = false;
};

} // namespace

double showEndSeconds(const ShowSources& sources) {
    double end = 0.0;
    for (const SequenceEntry& entry : sources.animation.sequence) {
        const double frames =
            std::fabs(static_cast<double>(entry.lastFrame) - entry.firstFrame) + 1.0;
        end = std::max(end, entry.startSeconds + frames * kAnimationFrameSeconds);
    }
    if (sources.timeline.size() > 0) {
        const auto& last = sources.timeline.entry(sources.timeline.size() - 1);
        end = std::max(end, last.startMs / 1000.0);
    }
    return end;
}

double clockTimeForShowTime(const RemapTable& table, double showSeconds) {
    if (table.empty()) {
        return showSeconds;
    }
    if (showSeconds <= table.front().first) {
        return showSeconds - table.front().first + table.front().second;
    }
    for (std::size_t i = 1; i < table.size(); ++i) {
        const RemapPoint& a = table[i - 1];
        const RemapPoint& b = table[i];
        const bool inside = (a.first <= showSeconds && showSeconds <= b.first) ||
                            (b.first <= showSeconds && showSeconds <= a.first);
        if (inside && b.second > a.second) {
            const double u =
                a.first == b.first ? 0.0 : (showSeconds - a.first) / (b.first - a.first);
            return a.second + u * (b.second - a.second);
        }
    }
    return showSeconds - table.back().first + table.back().second;
}

std::size_t ildaFrameCount(double fromSeconds, double toSeconds, double framesPerSecond) {
    const double span = (toSeconds - fromSeconds) * framesPerSecond;
    if (!(span > 0.0)) {
        return 0;
    }
    // A time that lands on `to` within rounding noise is not a frame of its own.
    const double count = std::ceil(span - 1e-9);
    return count > static_cast<double>(kMaxIldaFrames) + 1.0 ? kMaxIldaFrames + 1
                                                             : static_cast<std::size_t>(count);
}

void exportIldaFrames(const ClockFrameBuilder& build, double defaultTo,
                      const IldaExportRequest& request, std::FILE* progress,
                      const std::atomic<bool>* stop) {
    const double to = request.toSeconds.value_or(defaultTo);
    const std::size_t count = ildaFrameCount(request.fromSeconds, to, request.framesPerSecond);
    if (count == 0) {
        char end[64];
        std::snprintf(end, sizeof end, "%.3f s", to);
        throw std::invalid_argument("nothing to export: --from lies at or after the end (" +
                                    std::string(end) + ")");
    }
    if (count > kMaxIldaFrames) {
        throw std::invalid_argument("the export needs more than 65535 frames, the most an ILDA "
                                    "file holds; shorten it with --from/--to or lower --fps");
    }
    ReplacingFile output(request.out);
    IldaWriter writer(output.temporaryPath(), count, request.out);
    ProgressLine line(progress, count);
    std::vector<LaserSample> samples;
    std::vector<LaserSample> corrected;
    StaticGuard guard(request.correction != nullptr ? request.correction->staticGuard()
                                                    : StaticGuardSettings{0.0, 1});
    glm::vec2 beam{0.0f, 0.0f};
    for (std::size_t k = 0; k < count; ++k) {
        if (stop != nullptr && stop->load()) {
            throw std::runtime_error("export interrupted; " + request.out.string() +
                                     " is left as it was");
        }
        const double clock = request.fromSeconds + static_cast<double>(k) / request.framesPerSecond;
        beam = build(clock, samples, beam);
        if (request.correction != nullptr) {
            request.correction->apply(samples, corrected);
            (void)guard.apply(corrected,
                              StaticGuard::Clock::time_point{} +
                                  std::chrono::duration_cast<StaticGuard::Clock::duration>(
                                      std::chrono::duration<double>(clock)));
            samples.swap(corrected);
        }
        if (samples.empty()) {
            samples.push_back(darkSampleAt(beam));
        }
        writer.writeFrame(samples);
        line.update(k + 1);
    }
    writer.finish();
    output.commit();
    line.done();
}

void exportIlda(const ShowSources& sources, const IldaExportRequest& request, std::FILE* progress,
                const std::atomic<bool>* stop) {
    ShowFrameBuffers buffers; // kept from frame to frame: steady frames do not allocate
    exportIldaFrames(
        [&](double clock, std::vector<LaserSample>& samples, glm::vec2 beam) {
            const ColorFrame& frame =
                renderShowFrame(sources, remapTime(sources.remapTable, clock), buffers);
            return buildLaserFramePath(frame, samples, beam, request.intensity, buffers.pathLengths)
                .beamPosition;
        },
        clockTimeForShowTime(sources.remapTable, showEndSeconds(sources)), request, progress, stop);
}

} // namespace lumarok
