#include "output/frame_handoff.hpp"

#include <utility>

namespace lumarok {

FrameHandoff::FrameHandoff(Doorbell& wants, Doorbell& frames)
    : wantBell(wants), frameBell(frames) {}

bool FrameHandoff::needsFrame() const {
    return wanted.load() && ((middle.load() & kFresh) == 0 || !timely());
}

bool FrameHandoff::timely() const {
    return publishedFor.load() >= takesFrom.load();
}

FrameHandoff::Clock::time_point FrameHandoff::wantedFor() const {
    return Clock::time_point(Clock::duration(wantedAt.load()));
}

void FrameHandoff::publish(std::vector<LaserSample>& frame, Clock::time_point drawnFor) {
    buffers[back].swap(frame);
    moments[back] = drawnFor; // handed over with the buffer by the exchange below
    publishedFor.store(drawnFor.time_since_epoch().count());
    // Only the renderer rings the frame bell, so its next ring announces this frame.
    announcedBy.store(frameBell.rings() + 1);
    back = static_cast<std::uint8_t>(middle.exchange(static_cast<std::uint8_t>(back | kFresh)) &
                                     ~kFresh);
}

void FrameHandoff::want(Clock::time_point playsAt, Clock::time_point notBefore) {
    wantedAt.store(playsAt.time_since_epoch().count()); // before the request it belongs to
    takesFrom.store(notBefore.time_since_epoch().count());
    ended.store(false); // a new sender (a projector found again) opens it again
    wanted.store(true);
    wantBell.ring();
}

bool FrameHandoff::takeable() const {
    // Signed difference: the ring count may wrap.
    return (middle.load() & kFresh) != 0 &&
           static_cast<std::int32_t>(frameBell.rings() - announcedBy.load()) >= 0 && timely();
}

bool FrameHandoff::take(std::vector<LaserSample>& frame) {
    if (!takeable()) {
        return false;
    }
    front = static_cast<std::uint8_t>(middle.exchange(front) & ~kFresh);
    buffers[front].swap(frame);
    wanted.store(false); // answered, also when asked for only after it came
    return true;
}

bool FrameHandoff::waitForFrame(Clock::time_point deadline) {
    // The count first: a frame announced after the look below rings past it.
    const std::uint32_t seen = frameBell.rings();
    if (takeable()) {
        return true;
    }
    frameBell.waitPast(seen, deadline);
    return takeable();
}

void FrameHandoff::close() {
    wanted.store(false);
    ended.store(true);
    wantBell.ring();
}

} // namespace lumarok
