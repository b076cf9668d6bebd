#include "output/laser_sender.hpp"

#include "laser/laser_frame.hpp"
#include "laser/pacing.hpp"
#include "laser/realtime.hpp"

#include <algorithm>
#include <thread>

namespace lumarok {

namespace {

using Clock = FrameHandoff::Clock;

LaserSample darkAt(const LaserSample& sample) {
    return LaserSample{sample.x, sample.y, 0, 0, 0};
}

// Between two tries of the closing frame while the network refuses it.
constexpr auto kClosingRetry = std::chrono::milliseconds(100);

} // namespace

LaserSender::LaserSender(LaserOutput& out, FrameHandoff& frames,
                         const std::atomic<bool>& stopSignal, EventLog& events, std::uint16_t index,
                         bool realtime, bool beat)
    : output(out), handoff(frames), log(events), stream(index),
      onBeat(beat), stop{&stopSignal, &ownStop}, lastPosition(darkSampleAt({0.0f, 0.0f})) {
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

void LaserSender::finish(bool persist) {
    persistent.store(persist);
    stopAndJoin();
    if (error) {
        std::rethrow_exception(error);
    }
}

void LaserSender::post(StreamEvent kind, const char* text) {
    LogEvent event;
    event.kind = kind;
    event.stream = stream;
    event.setText(text);
    log.post(event);
}

void LaserSender::run(bool realtime) {
    if (realtime) {
        const char* refused = enterRealtime();
        if (refused != nullptr) {
            post(StreamEvent::realtimeRefused, refused);
        }
    }
    try {
        feed();
    } catch (...) {
        error = std::current_exception();
        failure.store(true);
    }
    close();
    handoff.close(); // the renderer need not wait for a request that will not come
}

void LaserSender::close() {
    // Every way out goes dark where the beam is, then off, here and now: the renderer
    // may be stuck in a frame and must not hold the switch-off back. When the show
    // stops while the network is gone, both are tried until it is back, for a while.
    const Clock::time_point giveUp = Clock::now() + kClosingPersistence;
    bool darkSent = false;
    bool off = false;
    for (;;) {
        try {
            if (!darkSent) {
                dark.assign(kDarkFrameSamples, lastPosition);
                darkSent = output.sendUnpaced(dark);
            }
            off = output.switchOff();
        } catch (const std::exception& e) {
            post(StreamEvent::closingFailed, e.what());
            break;
        }
        if ((darkSent && off) || !persistent.load() || Clock::now() >= giveUp) {
            break;
        }
        std::this_thread::sleep_for(kClosingRetry);
    }
    closed.store(darkSent && off);
    if (!darkSent) {
        post(StreamEvent::closingFailed, "the network refused it");
    }
}

bool LaserSender::waitUntilQueued(std::int32_t samples, std::chrono::nanoseconds longest) {
    const auto end = Clock::now() + longest;
    for (;;) {
        if (stop.raised()) {
            return false;
        }
        const std::chrono::nanoseconds until = output.timeUntilQueued(samples);
        const auto now = Clock::now();
        if (until.count() <= 0 || now >= end) {
            return true;
        }
        const auto wake = now + std::min<std::chrono::nanoseconds>({until, end - now, kSenderPoll});
        if (handoff.waitForFrame(wake)) {
            return true;
        }
    }
}

bool LaserSender::awaitFrame(std::vector<LaserSample>& frame) {
    while (!handoff.take(frame)) {
        if (stop.raised()) {
            return false;
        }
        const std::chrono::nanoseconds untilLow = output.timeUntilQueued(lowWater());
        if (untilLow.count() <= 0) {
            return false;
        }
        handoff.waitForFrame(Clock::now() +
                             std::min<std::chrono::nanoseconds>(untilLow, kSenderPoll));
    }
    return true;
}

void LaserSender::feedDark(std::size_t count) {
    // Only once the device is down to the low-water mark, then all at once: the
    // buffer (2,000 samples at least) has room, and an empty show wakes the sender
    // once per fill instead of once per packet.
    for (;;) {
        if (stop.raised()) {
            return;
        }
        const std::chrono::nanoseconds untilLow = output.timeUntilQueued(lowWater());
        if (untilLow.count() <= 0) {
            break;
        }
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(untilLow, kSenderPoll));
    }
    dark.assign(count, lastPosition);
    (void)output.sendUnpaced(dark);
}

std::int32_t LaserSender::lowWater() {
    // What is on its way to the device counts as queued but does not play yet.
    const std::int32_t reserve = output.reserve();
    const std::int32_t usual = kLowWaterSamples + reserve - pacingReserve(output.bufferSize());
    // A buffer too small for the usual mark below its reserve (an Ether Dream's 1,800
    // points) waits half its reserve for a late frame.
    return usual < reserve ? usual : reserve / 2;
}

std::size_t LaserSender::padToReserve(std::vector<LaserSample>& frame) {
    const std::int32_t queued = output.queuedSamples();
    const std::int32_t reserve = output.reserve();
    if (queued < 0 || queued >= reserve) {
        return 0;
    }
    // Within the room the renderer reserved: no allocation here.
    const auto pad = std::min<std::size_t>(static_cast<std::size_t>(reserve - queued),
                                           frame.capacity() - frame.size());
    frame.insert(frame.begin(), pad, lastPosition);
    return pad;
}

std::size_t LaserSender::padToMoment(std::vector<LaserSample>& frame, Clock::time_point playsAt) {
    const std::int32_t queued = output.queuedSamples();
    if (queued < 0 || playsAt == Clock::time_point{}) {
        return padToReserve(frame);
    }
    // Room for the frame's first burst above the lead: a device never gets more at once
    // than it can hold.
    const std::int32_t ceiling =
        output.bufferSize() - static_cast<std::int32_t>(std::min<std::size_t>(
                                  frame.size(), static_cast<std::size_t>(output.bufferSize() / 2)));
    // The device plays on while the frame is drawn: it may come below its reserve then,
    // by that time, but by no more than half the pacing reserve (a frame later than that
    // plays late).
    const std::int32_t least = output.reserve() - pacingReserve(output.bufferSize()) / 2;
    const std::size_t pad =
        std::min(leadToMoment(Clock::now(), playsAt, queued, least, output.playRate(), ceiling),
                 frame.capacity() - frame.size()); // within the room the renderer kept
    frame.insert(frame.begin(), pad, lastPosition);
    return pad;
}

void LaserSender::feed() {
    std::vector<LaserSample> frame;
    bool late = false; // the last frame asked for did not come in time
    while (waitUntilQueued(output.reserve(), kLongestRoomWait)) {
        if (onBeat) {
            const Clock::time_point playsAt = playMoment(Clock::now(), output.queuedSamples(),
                                                         output.reserve(), output.playRate());
            // A frame drawn for the others' moment well before ours (they asked out of step
            // and were served alone) is drawn anew, so that we come into step; but once a
            // frame was late, whatever comes is taken.
            handoff.want(playsAt, late ? Clock::time_point{} : playsAt - kStaleFrame);
        } else {
            handoff.want();
        }
        late = !awaitFrame(frame);
        if (late) {
            feedDark(kDarkFillSamples); // the frame is late: keep the device fed, dark
            continue;
        }
        if (frame.empty()) {
            feedDark(kEmptyFrameDarkSamples); // nothing to draw: dark for a while
            continue;
        }
        const std::size_t lead =
            onBeat ? padToMoment(frame, handoff.takenFor()) : padToReserve(frame);
        const SendOutcome outcome = output.sendFrame(frame, stop, FrameStart::now, lead);
        lastPosition = darkAt(frame.back());
        sentFrame.store(true);
        if (outcome == SendOutcome::stalled || outcome == SendOutcome::interrupted) {
            dark.assign(kDarkFrameSamples, lastPosition);
            (void)output.sendUnpaced(dark);
        }
    }
}

} // namespace lumarok
