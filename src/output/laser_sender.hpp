#pragma once

#include "core/laser_sample.hpp"
#include "laser/event_log.hpp"
#include "laser/laser_output.hpp"
#include "output/frame_handoff.hpp"
#include "output/play_moment.hpp"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

namespace lumarok {

// When no new frame is ready, the sender lets the device play down to this many
// queued samples (20 ms at 30000 samples/s) before it feeds dark ones.
inline constexpr std::int32_t kLowWaterSamples = 600;
// Dark samples fed at a time while a frame is late (20 ms at 30000 samples/s);
// low water plus the largest fill stays below the smallest plausible buffer.
inline constexpr std::size_t kDarkFillSamples = 600;
// Dark samples fed for a frame with nothing to draw (40 ms at 30000 samples/s): an
// empty show renders 25 frames a second, not more.
inline constexpr std::size_t kEmptyFrameDarkSamples = 1200;
// Longest single wait of the sender for a frame, so stop requests are seen in time.
inline constexpr std::chrono::milliseconds kSenderPoll{20};
// Longest wait for the device to come down to the reserve before the next frame is
// asked for anyway; a frame published for the other projectors meanwhile is taken at
// once. A device that makes no room is then told by the frame's own pacing.
inline constexpr std::chrono::seconds kLongestRoomWait{1};
// On the beat, a frame drawn for a moment this much before the one a sender asked for is
// not taken but drawn anew.
inline constexpr std::chrono::milliseconds kStaleFrame{10};
// How long the closing dark frame and switch-off are tried while the network refuses
// them, when the show stops (not when the projector was lost).
inline constexpr std::chrono::seconds kClosingPersistence{10};

// The thread that keeps one projector fed. It asks the renderer for a frame once its
// device is down to the pacing reserve, so that every projector asks at about the same
// time, and sends it as soon as it comes, led by as many dark samples as bring its
// device back up to the reserve, so that devices fed the same frame at once play it at
// once. When no frame comes in time (a frame with nothing to draw, a slow render, a
// clock not yet started) it feeds dark samples at the beam's last position rather than
// let the device run dry on a lit one. Whatever ends it (a stop, the owner, an error of
// its own) it sends a dark frame at that position and switches the output off.
// On the beat (`onBeat`), it says with each request when the frame's first sample will
// be played (after what the device holds now), and sends the frame it gets so that this
// sample plays at the moment the frame was drawn for: with no dark lead when the frame
// came for its own moment, with one up to a later moment the other projectors named,
// and never leaving the device below half the pacing reserve under its reserve.
// It runs real-time where the system allows: it never takes a lock, allocates or
// writes text; its messages go to the event log.
// Thread: construct, finish and destroy on the owner's thread.
class LaserSender {
public:
    LaserSender(LaserOutput& output, FrameHandoff& handoff, const std::atomic<bool>& stopSignal,
                EventLog& log, std::uint16_t stream, bool realtime = true, bool onBeat = false);
    ~LaserSender();
    LaserSender(const LaserSender&) = delete;
    LaserSender& operator=(const LaserSender&) = delete;

    // Raised when the sender ended on an error.
    [[nodiscard]] const std::atomic<bool>& failed() const { return failure; }
    // Stops the sender (dark frame, switch-off, join) and rethrows the error it ended
    // on, if any. `persist`: the closing frame and switch-off are tried again for
    // kClosingPersistence while the network refuses them.
    void finish(bool persist = false);
    // Whether a frame went out yet.
    [[nodiscard]] bool sentAFrame() const { return sentFrame.load(); }
    // Whether the closing dark frame and the switch-off went out.
    [[nodiscard]] bool closedDark() const { return closed.load(); }

private:
    void run(bool realtime);
    void feed();
    void feedDark(std::size_t count);
    void close();
    // Waits until the device holds no more than `samples`, or for `longest`, or
    // until a frame is there to take; false on a stop.
    bool waitUntilQueued(std::int32_t samples, std::chrono::nanoseconds longest);
    // Takes the next frame, waiting for it until the device is down to the low-water
    // mark; false when it did not come in time, or on a stop.
    bool awaitFrame(std::vector<LaserSample>& frame);
    // The low-water mark, raised by what a slow network keeps on its way.
    std::int32_t lowWater();
    // Leads the frame with dark samples up to the reserve; returns how many.
    std::size_t padToReserve(std::vector<LaserSample>& frame);
    // Leads the frame with dark samples up to the moment it was drawn for; returns how many.
    std::size_t padToMoment(std::vector<LaserSample>& frame, PlayClock::time_point playsAt);
    void post(StreamEvent kind, const char* text);
    void stopAndJoin();

    LaserOutput& output;
    FrameHandoff& handoff;
    EventLog& log;
    std::uint16_t stream;
    const bool onBeat;
    std::atomic<bool> ownStop{false};
    std::atomic<bool> persistent{false};
    std::atomic<bool> failure{false};
    std::atomic<bool> closed{false};
    std::atomic<bool> sentFrame{false};
    StopFlags stop;
    std::exception_ptr error;   // written by the thread before it ends
    LaserSample lastPosition{}; // where the beam was sent last, dark
    std::vector<LaserSample> dark;
    std::thread thread;
};

} // namespace lumarok
