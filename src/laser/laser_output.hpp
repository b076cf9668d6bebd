#pragma once

#include "core/laser_sample.hpp"
#include "laser/pacing.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>

namespace lumarok {

// Either of two flags asks a wait to end: the process's stop signal and the owner's
// own request. A null flag is never raised.
struct StopFlags {
    const std::atomic<bool>* first = nullptr;
    const std::atomic<bool>* second = nullptr;
    [[nodiscard]] bool raised() const {
        return (first != nullptr && first->load(std::memory_order_relaxed)) ||
               (second != nullptr && second->load(std::memory_order_relaxed));
    }
};

// When a frame's packets may go out: paced against the device's buffer; at once as far
// as the device has room for them (the caller lines several devices up); or so only
// when the device is down to the pacing reserve, paced otherwise.
enum class FrameStart { paced, now, atReserve };

enum class SendOutcome {
    sent,        // the whole frame went out
    stopped,     // a stop was asked for; the rest of the frame was not sent
    stalled,     // the device made no room for longer than its buffer takes to drain
    interrupted, // the network came back during it; the rest was dropped
};

// Where the laser sender puts its samples: a projector link, or a stand-in in tests.
// Thread: the sending thread only, which may be real-time: no operation takes a lock
// another thread can hold, allocates or writes text. Each says whether it may block.
class LaserOutput {
public:
    virtual ~LaserOutput() = default;
    // May block (pacing sleeps, sends): sends one frame paced against the device's buffer.
    // Every wait inside ends within 20 ms of `stop` being raised. Throws on errors that
    // do not recover.
    // The first `darkLead` samples are dark ones that lead the frame; where lead and
    // frame do not fit one burst together, the lead goes out as a burst of its own, so
    // that a burst the device holds ends where a frame ends: dark.
    virtual SendOutcome sendFrame(std::span<const LaserSample> samples, const StopFlags& stop,
                                  FrameStart start, std::size_t darkLead) = 0;
    // May block (a burst gap, a millisecond or so; the sends): sends at once without pacing
    // or retries (dark fills, the dark frame on the way out), within the wire's burst
    // limits; false when the network refused it.
    virtual bool sendUnpaced(std::span<const LaserSample> samples) = 0;
    // May block (the sends): switches the device off; once it went out, later calls do
    // nothing. False when the network refused it.
    virtual bool switchOff() = 0;
    // The rest never block (a look at the device's reports is skipped while another
    // thread reads them). How long until the device is estimated to hold only `samples`.
    [[nodiscard]] virtual std::chrono::nanoseconds timeUntilQueued(std::int32_t samples) = 0;
    // Samples the device is estimated to hold now; -1 when not known.
    [[nodiscard]] virtual std::int32_t queuedSamples() { return -1; }
    // Samples a second the device plays; 0 when not known.
    [[nodiscard]] virtual std::int32_t playRate() { return 0; }
    // Samples the device's buffer holds.
    [[nodiscard]] virtual std::int32_t bufferSize() { return 6000; }
    // Samples the device is kept above (the pacing reserve, and more on a slow network).
    [[nodiscard]] virtual std::int32_t reserve() { return pacingReserve(bufferSize()); }
};

} // namespace lumarok
