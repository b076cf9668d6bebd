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

std::uint64_t FrameBell::rings() const {
    return count.load();
}

void FrameBell::ring() {
    {
        const std::lock_guard lock(mutex);
        ++count;
    }
    rung.notify_all();
}

void FrameBell::waitPast(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex);
    rung.wait_until(lock, deadline, [&] { return count.load() != seen; });
}

bool FrameHandoff::needsFrame() {
    return wanted.load() && !ready.load();
}

bool FrameHandoff::waitUntilWanted(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return renderWake.wait_for(lock, timeout, [this] { return wanted || ended; }) && !ended;
}

FrameHandoff::Clock::time_point FrameHandoff::renderTime() {
    const std::lock_guard lock(mutex);
    return requestedAt;
}

std::optional<FrameHandoff::Clock::time_point> FrameHandoff::foreseeNext(Clock::time_point asked,
                                                                         std::size_t samples) {
    const std::lock_guard lock(mutex);
    if (requestRate <= 0 || asked == Clock::time_point::min()) {
        return std::nullopt;
    }
    return asked + std::chrono::nanoseconds(static_cast<std::int64_t>(samples) * 1'000'000'000 /
                                            requestRate);
}

void FrameHandoff::sleepUntil(Clock::time_point until) {
    std::unique_lock lock(mutex);
    renderSleep.wait_until(lock, until, [this] { return ended; });
}

bool FrameHandoff::closed() {
    const std::lock_guard lock(mutex);
    return ended;
}

void FrameHandoff::close() {
    {
        const std::lock_guard lock(mutex);
        ended = true;
        wanted = false;
    }
    renderWake.notify_one();
    renderSleep.notify_one();
    if (bell != nullptr) {
        bell->ring();
    }
}

void FrameHandoff::publish(std::vector<LaserSample>& frame) {
    {
        const std::lock_guard lock(mutex);
        published.swap(frame);
        ready = true;
        wanted = false;
        // Only the renderer rings, so the next ring is the one that announces this frame.
        announcedBy = frameBell != nullptr ? frameBell->rings() + 1 : 0;
    }
    if (frameBell == nullptr) {
        senderWake.notify_one();
    }
}

void FrameHandoff::want(Clock::time_point renderAt, std::int32_t sampleRate) {
    {
        const std::lock_guard lock(mutex);
        requestedAt = renderAt;
        requestRate = sampleRate;
        wanted = true;
        ended = false; // a new sender (a projector found again) opens it again
    }
    renderWake.notify_one();
    if (bell != nullptr) {
        bell->ring();
    }
}

bool FrameHandoff::takeable() const {
    return ready.load() && (frameBell == nullptr || frameBell->rings() >= announcedBy);
}

bool FrameHandoff::take(std::vector<LaserSample>& frame) {
    const std::lock_guard lock(mutex);
    if (!takeable()) {
        return false;
    }
    published.swap(frame);
    ready = false;
    wanted = false; // answered, also when asked for only after it came
    return true;
}

bool FrameHandoff::waitForFrame(Clock::time_point deadline) {
    if (frameBell == nullptr) {
        std::unique_lock lock(mutex);
        return senderWake.wait_until(lock, deadline, [this] { return ready.load(); });
    }
    // The count first: a frame announced after the look below rings past it.
    const std::uint64_t seen = frameBell->rings();
    {
        const std::lock_guard lock(mutex);
        if (takeable()) {
            return true;
        }
    }
    frameBell->waitPast(seen, deadline);
    const std::lock_guard lock(mutex);
    return takeable();
}

} // namespace lumarok
