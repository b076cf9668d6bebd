#include "app/laser_sender.hpp"

#include "app/laser_frame.hpp"
#include "laser/pacing.hpp"
#include "laser/realtime.hpp"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace lumarok {

namespace {

LaserSample darkAt(const LaserSample& sample) {
    return LaserSample{sample.x, sample.y, 0, 0, 0};
}

} // namespace

LaserSender::LaserSender(LaserOutput& out, FrameHandoff& frames,
                         const std::atomic<bool>& stopSignal, bool realtime, bool aligned)
    : output(out), handoff(frames), stop{&stopSignal, &ownStop},
      lastPosition(darkSampleAt({0.0f, 0.0f})), align(aligned) {
    dark.reserve(std::max({kDarkFillSamples, kEmptyFrameDarkSamples, kDarkFrameSamples}));
    thread = std::thread(&LaserSender::run, this, realtime);
}

LaserSender::~LaserSender() {
    stopAndJoin();
}

void LaserSender::stopAndJoin() {
    ownStop.store(true);
    if (thread.joinable()) {
        thread.join();
    }
}

void LaserSender::finish() {
    stopAndJoin();
    if (error) {
        std::rethrow_exception(error);
    }
}

void LaserSender::run(bool realtime) {
    if (realtime) {
        const std::string refused = enterRealtime();
        if (!refused.empty()) {
            std::fprintf(stderr, "lumarok: %s\n", refused.c_str());
        }
    }
    try {
        feed();
    } catch (...) {
        error = std::current_exception();
        failure.store(true);
    }
    // Every way out goes dark where the beam is, then off, here and now: the
    // renderer may be stuck in a frame and must not hold the switch-off back.
    try {
        dark.assign(kDarkFrameSamples, lastPosition);
        output.sendUnpaced(dark);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumarok: the closing dark frame could not be sent: %s\n", e.what());
    }
    try {
        output.switchOff();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumarok: switching the projector off failed: %s\n", e.what());
    }
}

void LaserSender::feedDark(std::size_t count) {
    // Only once the device is down to the low-water mark, then all at once: the
    // buffer (2,000 samples at least) has room, and an empty show wakes the sender
    // once per fill instead of once per packet.
    for (;;) {
        if (stop.raised()) {
            return;
        }
        const std::chrono::nanoseconds untilLow = output.timeUntilQueued(kLowWaterSamples);
        if (untilLow.count() <= 0) {
            break;
        }
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(untilLow, kSenderPoll));
    }
    dark.assign(count, lastPosition);
    output.sendUnpaced(dark);
}

void LaserSender::padToReserve(std::vector<LaserSample>& frame) {
    const std::int32_t queued = output.queuedSamples();
    if (queued < 0 || queued >= kPacingReserve) {
        return;
    }
    frame.insert(frame.begin(), static_cast<std::size_t>(kPacingReserve - queued), lastPosition);
}

void LaserSender::feed() {
    std::vector<LaserSample> frame;
    handoff.want();
    while (!stop.raised()) {
        if (handoff.take(frame)) {
            if (frame.empty()) {
                feedDark(kEmptyFrameDarkSamples); // nothing to draw: dark for a while
            } else {
                if (align) {
                    padToReserve(frame);
                }
                const SendOutcome outcome = output.sendFrame(frame, stop);
                lastPosition = darkAt(frame.back());
                if (outcome == SendOutcome::stalled) {
                    dark.assign(kDarkFrameSamples, lastPosition);
                    output.sendUnpaced(dark);
                }
            }
            handoff.want();
            continue;
        }
        const std::chrono::nanoseconds untilLow = output.timeUntilQueued(kLowWaterSamples);
        if (untilLow.count() > 0) {
            handoff.waitForFrame(FrameHandoff::Clock::now() +
                                 std::min<std::chrono::nanoseconds>(untilLow, kSenderPoll));
            continue;
        }
        feedDark(kDarkFillSamples); // the frame is late: keep the device fed, dark
    }
}

} // namespace lumarok
