#pragma once

#include "app/frame_handoff.hpp"
#include "laser/laser_output.hpp"
#include "laser/laser_sample.hpp"
#include "laser/pacing.hpp"

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
// Longest wait for room at the device before the sender takes the next frame; past it
// the frame's own pacing waits, and tells a device that makes no room.
inline constexpr std::chrono::milliseconds kLongestRoomWait{40};
// One projector: how long before the device is down to the reserve the next frame is
// rendered. A renderer kept off the processor longer only makes the frame later; the
// device still holds the reserve then.
inline constexpr std::chrono::milliseconds kRenderLead{10};
// The same for a device of several: its frames go out whole, so it may hold a long
// one over the reserve, and a frame rendered for the others wakes it anyway.
inline constexpr std::chrono::seconds kLongestAlignedWait{1};

// The thread that keeps the projector fed. It asks the renderer for frames through
// the handoff and sends them, paced by the output; when no frame comes in time (a
// frame with nothing to draw, a slow render, a clock not yet started) it feeds dark
// samples at the beam's last position rather than let the device run dry on a lit
// one. Whatever ends it (a stop signal, the owner, an error of its own) it sends a
// dark frame at that position and switches the output off on the way out. Runs real-time where the
// system allows (one line on stderr where not). Thread: construct, finish and destroy on the
// owner's thread.
class LaserSender {
public:
    // `aligned` (several projectors): each asks for a frame once its device is down to
    // the pacing reserve; each frame starts with dark samples that bring the device
    // back up to the reserve and goes out at once, so that devices fed the same frame
    // at once play it at once, however far each had drained while it was awaited.
    LaserSender(LaserOutput& output, FrameHandoff& handoff, const std::atomic<bool>& stopSignal,
                bool realtime = true, bool aligned = false);
    ~LaserSender();
    LaserSender(const LaserSender&) = delete;
    LaserSender& operator=(const LaserSender&) = delete;

    // Raised when the sender ended on an error; the renderer stops on it.
    [[nodiscard]] const std::atomic<bool>& failed() const { return failure; }
    // Stops the sender (dark frame, join) and rethrows the error it ended on, if any.
    void finish();

private:
    void run(bool realtime);
    void feed();
    void feedDark(std::size_t count);
    // One projector: asks for the next frame, to be rendered shortly before the device
    // is down to the reserve.
    void askForNext();
    // Waits until the device holds no more than `samples`, or for `longest`, or (if
    // `untilFrame`) until a frame is there to take; false on a stop.
    bool waitUntilQueued(std::int32_t samples, std::chrono::nanoseconds longest, bool untilFrame);
    // Takes the next frame, waiting for it until the device is down to the low-water
    // mark; false when it did not come in time, or on a stop.
    bool awaitFrame(std::vector<LaserSample>& frame);
    void stopAndJoin();
    void padToReserve(std::vector<LaserSample>& frame);

    LaserOutput& output;
    FrameHandoff& handoff;
    std::atomic<bool> ownStop{false};
    std::atomic<bool> failure{false};
    StopFlags stop;
    std::exception_ptr error;   // written by the thread before it ends
    LaserSample lastPosition{}; // where the beam was sent last, dark
    std::vector<LaserSample> dark;
    bool align = false;
    std::thread thread;
};

} // namespace lumarok
