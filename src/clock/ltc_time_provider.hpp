#pragma once

#include "clock/ltc_timecode.hpp"
#include "clock/time_provider.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace lumarok {

class MonoCapture;

// Clock time from SMPTE linear timecode heard on an audio source. Every decoded frame
// sets the clock to the time at that frame's end; between frames, and for
// `freewheelSeconds` after the signal stops, the clock runs on the steady clock. After
// that it holds (and says so once on stderr) until timecode comes back. A relocation
// is followed with the first frame decoded after it, except that a frame cut by a
// drop-out (decoded only once sound returns) never moves the clock backwards. The
// recording reconnects when the audio server goes and comes back.
class LtcTimeProvider final : public TimeProvider {
public:
    static constexpr double kFreewheelSeconds = 2.0;

    // sourceName: a server source or monitor; empty means the default input. Starts the
    // recording; throws std::runtime_error when the source cannot be recorded.
    explicit LtcTimeProvider(std::string sourceName = {},
                             double freewheelSeconds = kFreewheelSeconds);
    ~LtcTimeProvider() override;
    LtcTimeProvider(const LtcTimeProvider&) = delete;
    LtcTimeProvider& operator=(const LtcTimeProvider&) = delete;

    // Thread: the show's main thread. 0 before the first frame.
    [[nodiscard]] double getTime() override;
    [[nodiscard]] const char* sourceName() const override { return "ltc"; }
    [[nodiscard]] const char* heardName() const override { return "timecode"; }
    [[nodiscard]] std::optional<double> silentSeconds() const override {
        return secondsSinceFrame();
    }
    [[nodiscard]] std::string readoutText() const override;
    // Thread: the show's main thread. The time at `moment` as getTime reckons it: the last
    // frame's time plus the steady time since, free-wheeling at most freewheelSeconds.
    [[nodiscard]] double timeAt(std::chrono::steady_clock::time_point moment) override;
    // Thread: any. Seconds since the last frame decoded ended; none before the first.
    [[nodiscard]] std::optional<double> secondsSinceFrame() const;
    // Thread: any. Whether the audio source is being recorded now.
    [[nodiscard]] bool recording() const;
    // Thread: any. The rate last heard; none before the first frame.
    [[nodiscard]] std::optional<LtcRate> rate() const;
    // "LTC timecode on SOURCE (free-wheels 2.0 s over drop-outs)", for the start-up line.
    [[nodiscard]] std::string describe() const;

private:
    struct Decoder;
    // Thread: capture.
    void decode(std::span<const float> samples);

    const double freewheelSeconds;
    std::unique_ptr<Decoder> decoder; // touched only by the capture thread

    // Written by the capture thread per decoded frame, read by getTime; guarded by
    // anchorMutex, held for a few assignments only.
    mutable std::mutex anchorMutex;
    bool anchored = false;
    double anchorSeconds = 0.0; // timecode time at the end of the last frame
    std::int64_t anchorNs = 0;  // steady clock when that frame ended
    std::optional<LtcRate> heardRate;
    bool holdReported = false; // main thread only

    std::unique_ptr<MonoCapture> capture; // last: stopped before the rest goes
};

} // namespace lumarok
