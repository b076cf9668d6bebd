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
    handoff.close(); // the renderer need not wait for a request that will not come
}

bool LaserSender::waitUntilQueued(std::int32_t samples, std::chrono::nanoseconds longest,
                                  bool untilFrame) {
    const auto end = FrameHandoff::Clock::now() + longest;
    for (;;) {
        if (stop.raised()) {
            return false;
        }
        const std::chrono::nanoseconds until = output.timeUntilQueued(samples);
        const auto now = FrameHandoff::Clock::now();
        if (until.count() <= 0 || now >= end) {
            return true;
        }
        const auto wake = now + std::min<std::chrono::nanoseconds>({until, end - now, kSenderPoll});
        if (!untilFrame) {
            std::this_thread::sleep_until(wake);
        } else if (handoff.waitForFrame(wake)) {
            return true;
        }
    }
}

bool LaserSender::awaitFrame(std::vector<LaserSample>& frame) {
    while (!handoff.take(frame)) {
        if (stop.raised()) {
            return false;
        }
        const std::chrono::nanoseconds untilLow = output.timeUntilQueued(kLowWaterSamples);
        if (untilLow.count() <= 0) {
            return false;
        }
        handoff.waitForFrame(FrameHandoff::Clock::now() +
                             std::min<std::chrono::nanoseconds>(untilLow, kSenderPoll));
    }
    return true;
}

void LaserSender::feedDark(std::size_t count) {
    // Only once the device is down to the low-water mark, then all at once: the
    // buffer (2,000 samples at least) has room, and an empty show wakes the sender
    // once per fill instead of once per packet.
    if (!waitUntilQueued(kLowWaterSamples, std::chrono::nanoseconds::max() / 2, false)) {
        return;
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

void LaserSender::askForNext() {
    // Rendered a little before the device is down to the reserve again: as late as
    // a frame can be and still be there when the device has room for it.
    const auto untilReserve = output.timeUntilQueued(kPacingReserve);
    handoff.want(FrameHandoff::Clock::now() + untilReserve - kRenderLead, output.playRate());
}

void LaserSender::feed() {
    std::vector<LaserSample> frame;
    // One projector: each frame is asked for to be rendered shortly before the device
    // is down to the reserve, and goes out whole once it is. Several: each asks once its
    // device is down to the reserve, so all ask about together, and takes the one frame
    // rendered for them as soon as it comes, even before its own device is low.
    if (!align) {
        handoff.want();
    }
    // Aligned frames go out whole, so the device may hold a long one over the reserve;
    // a frame published for the others meanwhile is taken at once anyway.
    const std::chrono::nanoseconds roomWait = align ? kLongestAlignedWait : kLongestRoomWait;
    while (waitUntilQueued(kPacingReserve, roomWait, align)) {
        if (align) {
            handoff.want();
        }
        if (!awaitFrame(frame)) {
            feedDark(kDarkFillSamples); // the frame is late: keep the device fed, dark
            continue;
        }
        if (frame.empty()) {
            feedDark(kEmptyFrameDarkSamples); // nothing to draw: dark for a while
        } else {
            if (align) {
                padToReserve(frame);
            }
            const SendOutcome outcome =
                output.sendFrame(frame, stop, align ? FrameStart::now : FrameStart::atReserve);
            lastPosition = darkAt(frame.back());
            if (outcome == SendOutcome::stalled) {
                dark.assign(kDarkFrameSamples, lastPosition);
                output.sendUnpaced(dark);
            }
        }
        if (!align) {
            askForNext();
        }
    }
}

} // namespace lumarok
