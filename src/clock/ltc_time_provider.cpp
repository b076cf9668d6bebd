#include "clock/ltc_time_provider.hpp"

#include "audio/mono_capture.hpp"
#include "clock/run_on.hpp"

#include <ltc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace lumarok {

namespace {

constexpr std::uint32_t kSampleRateHz = 48000;
constexpr int kDecoderQueue = 32;
// Frame lengths in samples a little beyond those of 30 and 24 frames/s.
constexpr double kShortestFrame = kSampleRateHz / 33.0;
constexpr double kLongestFrame = kSampleRateHz / 22.0;
constexpr std::int64_t kRestartNs = 50'000'000;

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

struct LtcTimeProvider::Decoder {
    struct Free {
        void operator()(LTCDecoder* d) const { ltc_decoder_free(d); }
    };
    std::unique_ptr<LTCDecoder, Free> ltc{ltc_decoder_create(kSampleRateHz / 25, kDecoderQueue)};
    std::vector<float> buffer;           // the decoder takes a mutable buffer
    ltc_off_t samplesFed = 0;            // stream position after the last chunk
    double samplesPerFrame = 0.0;        // smoothed frame length, 0 before the first
    std::optional<LtcRate> reportedRate; // last rate printed
    std::int64_t streamStartNs = 0;      // steady clock at stream sample 0
    bool haveStreamStart = false;

    // A chunk arrives when the server hands it over, which a busy machine delays: the
    // earliest arrival tells best when sample 0 was heard. The estimate creeps later
    // by 200 ppm to follow an audio clock slower than ours, and restarts when the
    // stream has lost samples (the arrival is then far later than expected).
    void trackStreamStart(std::int64_t nowNs, std::size_t chunkSamples) {
        const auto candidate = nowNs - static_cast<std::int64_t>(static_cast<double>(samplesFed) *
                                                                 1e9 / kSampleRateHz);
        const auto creep = static_cast<std::int64_t>(static_cast<double>(chunkSamples) * 1e9 /
                                                     kSampleRateHz / 5000);
        if (!haveStreamStart || candidate < streamStartNs ||
            candidate - streamStartNs > kRestartNs) {
            streamStartNs = candidate;
            haveStreamStart = true;
        } else {
            streamStartNs = std::min(candidate, streamStartNs + creep);
        }
    }

    [[nodiscard]] std::int64_t steadyNsAt(ltc_off_t sample) const {
        return streamStartNs +
               static_cast<std::int64_t>(static_cast<double>(sample) * 1e9 / kSampleRateHz);
    }
};

LtcTimeProvider::LtcTimeProvider(std::string sourceName, double freewheelSeconds_)
    : freewheelSeconds(freewheelSeconds_), decoder(std::make_unique<Decoder>()) {
    if (!decoder->ltc) {
        throw std::runtime_error("cannot create a timecode decoder");
    }
    capture = std::make_unique<MonoCapture>(
        std::move(sourceName), kSampleRateHz,
        [this](std::span<const float> samples) { decode(samples); }, "lumarok-ltc");
}

std::string LtcTimeProvider::describe() const {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", freewheelSeconds);
    return "LTC timecode on " + capture->sourceLabel() + " (free-wheels " + seconds +
           " s over drop-outs)";
}

std::string LtcTimeProvider::readoutText() const {
    const std::optional<LtcRate> heard = rate();
    return heard ? "clock LTC " + heard->name() + " frames/s" : "waiting for LTC";
}

LtcTimeProvider::~LtcTimeProvider() {
    capture.reset(); // joins the capture thread before the decoder goes
}

void LtcTimeProvider::decode(std::span<const float> samples) {
    Decoder& d = *decoder;
    d.buffer.assign(samples.begin(), samples.end());
    ltc_decoder_write_float(d.ltc.get(), d.buffer.data(), d.buffer.size(), d.samplesFed);
    d.samplesFed += static_cast<ltc_off_t>(samples.size());
    d.trackStreamStart(steadyNowNs(), samples.size());

    LTCFrameExt frame{};
    while (ltc_decoder_read(d.ltc.get(), &frame) > 0) {
        if (frame.reverse != 0) {
            continue; // played backwards: not a clock to follow
        }
        // The first frame after a drop-out measures from before the gap: only lengths
        // near some known rate count towards the estimate.
        const double length = static_cast<double>(frame.off_end - frame.off_start + 1);
        if (length > kShortestFrame && length < kLongestFrame) {
            d.samplesPerFrame =
                d.samplesPerFrame == 0.0 ? length : 0.8 * d.samplesPerFrame + 0.2 * length;
        }
        if (d.samplesPerFrame == 0.0) {
            continue;
        }
        const LtcRate rate = ltcRateFor(d.samplesPerFrame, kSampleRateHz, frame.ltc.dfbit != 0);
        SMPTETimecode time{};
        ltc_frame_to_time(&time, &frame.ltc, 0);
        const Timecode timecode{time.hours, time.mins, time.secs, time.frame};
        const double endSeconds = timecodeSeconds(timecode, rate) + 1.0 / rate.framesPerSecond();
        const std::int64_t endNs = d.steadyNsAt(frame.off_end + 1);
        {
            const std::lock_guard lock(anchorMutex);
            // A frame cut by a drop-out, or the one after the last heard, is the old
            // timecode decoded late: behind the clock it would pull it back.
            const bool late = length >= kLongestFrame ||
                              (endSeconds >= anchorSeconds &&
                               endSeconds - anchorSeconds <= 2.0 / rate.framesPerSecond());
            if (anchored && late) {
                const double elapsed = static_cast<double>(endNs - anchorNs) / 1e9;
                // A frame's worth of slack: arrival jitter is not a step back.
                if (endSeconds + 1.0 / rate.framesPerSecond() <
                    anchorSeconds + std::min(elapsed, freewheelSeconds)) {
                    continue;
                }
            }
            anchored = true;
            anchorSeconds = endSeconds;
            anchorNs = endNs;
            heardRate = rate;
        }
        if (d.reportedRate != rate) {
            d.reportedRate = rate;
            std::printf("LTC: %s frames/s timecode\n", rate.name().c_str());
            std::fflush(stdout);
        }
    }
}

double LtcTimeProvider::getTime() {
    const std::int64_t nowNs = steadyNowNs();
    double anchor = 0.0;
    double elapsed = 0.0;
    {
        const std::lock_guard lock(anchorMutex);
        if (!anchored) {
            return 0.0;
        }
        anchor = anchorSeconds;
        elapsed = static_cast<double>(nowNs - anchorNs) / 1e9;
    }
    if (elapsed <= freewheelSeconds) {
        holdReported = false;
        return anchor + elapsed;
    }
    const double held = anchor + freewheelSeconds;
    if (!holdReported) {
        holdReported = true;
        std::fprintf(stderr, "lumarok: timecode lost for %.1f s; holding the show at %.3f s\n",
                     freewheelSeconds, held);
    }
    return held;
}

double LtcTimeProvider::timeAt(std::chrono::steady_clock::time_point moment) {
    const auto momentNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(moment.time_since_epoch()).count();
    const std::lock_guard lock(anchorMutex);
    if (!anchored) {
        return 0.0;
    }
    return runOn(anchorSeconds, static_cast<double>(momentNs - anchorNs) / 1e9, freewheelSeconds,
                 false);
}

std::optional<double> LtcTimeProvider::secondsSinceFrame() const {
    const std::int64_t nowNs = steadyNowNs();
    const std::lock_guard lock(anchorMutex);
    if (!anchored) {
        return std::nullopt;
    }
    return static_cast<double>(nowNs - anchorNs) / 1e9;
}

bool LtcTimeProvider::recording() const {
    return capture->recording();
}

std::optional<LtcRate> LtcTimeProvider::rate() const {
    const std::lock_guard lock(anchorMutex);
    return heardRate;
}

} // namespace lumarok
