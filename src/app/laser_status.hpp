#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace lumarok {

// One reading of the laser mode for the operator.
struct LaserStatus {
    double showSeconds = 0.0;
    std::size_t entry = 0;       // timeline index
    const char* effectKind = ""; // a name of effectKind(), which lives as long as the program
    double framesPerSecond = 0.0;
    double samplesPerSecond = 0.0;
    std::int32_t bufferFree = 0; // the sender's estimate of the device's free slots
    std::int32_t bufferMax = 0;
    std::uint64_t underruns = 0; // times the device reported its buffer run dry
    std::string projector;       // name and address
    // Shown with --verbose only.
    std::int32_t deviceSampleRate = 0;
    std::uint64_t frames = 0; // sent since the start
};

// "show 1:02.5  entry 12 circle  60.0 frames/s  ..." without a line break.
[[nodiscard]] std::string formatLaserStatus(const LaserStatus& status, bool verbose);
// The same into `line`, whose storage is kept: the laser loop writes the status
// twice a second and allocates nothing for it once the line has had room.
void formatLaserStatus(const LaserStatus& status, bool verbose, std::string& line);
// The head both status lines share, "show M:SS.s  entry N KIND  F frames/s", written
// into `out` as snprintf does; returns what snprintf returns.
int writeShowHead(std::span<char> out, double showSeconds, std::size_t entry, const char* kind,
                  double framesPerSecond);

// Frames and samples per second over the time since the previous reading.
class RateMeter {
public:
    using Clock = std::chrono::steady_clock;
    explicit RateMeter(Clock::time_point start) : since(start) {}
    void frameSent(std::size_t samples) {
        ++frames;
        ++framesTotal;
        sampleCount += samples;
    }
    // Samples that went out meanwhile, counted where they leave.
    void samplesSent(std::uint64_t samples) { sampleCount += samples; }
    // Fills the rates and the frame total, and starts the next interval.
    void read(LaserStatus& status, Clock::time_point now);

private:
    Clock::time_point since;
    std::uint64_t frames = 0;
    std::uint64_t framesTotal = 0;
    std::uint64_t sampleCount = 0;
};

// Where and how often the status goes: rewritten in place at most twice a second on
// a terminal, otherwise one plain line per period. Thread: one.
class StatusLine {
public:
    using Clock = std::chrono::steady_clock;
    enum class Style { off, terminal, plain };
    static constexpr auto kTerminalPeriod = std::chrono::milliseconds(500);
    static constexpr auto kPlainPeriod = std::chrono::seconds(10);

    StatusLine(std::FILE* out, Style style, Clock::duration period, Clock::time_point start);
    // On stderr: off when quiet, terminal style when stderr is one, plain otherwise.
    static StatusLine forStderr(bool quiet, Clock::time_point start);
    // Leaves the terminal line with a line break, so later messages start afresh.
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    [[nodiscard]] bool due(Clock::time_point now) const {
        return style != Style::off && now >= next;
    }
    void show(const std::string& line, Clock::time_point now);

private:
    std::FILE* out;
    Style style;
    Clock::duration period;
    Clock::time_point next;
    bool shown = false;
};

} // namespace lumarok
