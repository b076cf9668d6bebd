#include "app/frame_handoff.hpp"

namespace lumarok {

void WantBell::ring() {
    {
        const std::lock_guard lock(mutex);
        ++rings;
    }
    rung.notify_one();
}

bool WantBell::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex);
    if (!rung.wait_until(lock, deadline, [this] { return rings != heard; })) {
        return false;
    }
    heard = rings;
    return true;
}

bool FrameHandoff::needsFrame() {
    const std::lock_guard lock(mutex);
    return wanted && !ready;
}

bool FrameHandoff::waitUntilWanted(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return renderWake.wait_for(lock, timeout, [this] { return wanted; });
}

void FrameHandoff::publish(std::vector<LaserSample>& frame) {
    {
        const std::lock_guard lock(mutex);
        published.swap(frame);
        ready = true;
        wanted = false;
    }
    senderWake.notify_one();
}

void FrameHandoff::want() {
    {
        const std::lock_guard lock(mutex);
        wanted = true;
    }
    renderWake.notify_one();
    if (bell != nullptr) {
        bell->ring();
    }
}

bool FrameHandoff::take(std::vector<LaserSample>& frame) {
    const std::lock_guard lock(mutex);
    if (!ready) {
        return false;
    }
    published.swap(frame);
    ready = false;
    return true;
}

bool FrameHandoff::waitForFrame(Clock::time_point deadline) {
    std::unique_lock lock(mutex);
    return senderWake.wait_until(lock, deadline, [this] { return ready; });
}

} // namespace lumarok
