#pragma once

#include "laser/laser_sample.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace lumarok {

// Rung by every sender that asks for a frame, so one renderer can serve several
// senders without polling them. Thread: any.
class WantBell {
public:
    void ring();
    // Waits until the bell rang since the last wait returned true, or the deadline.
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    std::mutex mutex;
    std::condition_variable rung;
    std::uint64_t rings = 0;
    std::uint64_t heard = 0;
};

// Rung once by the renderer after it put one frame up for several senders: a copy is
// theirs to take only from that ring on, so all wake and take it together. Handed
// over one by one, a sender woken by its copy, or one that looked on its own, could
// take it while the renderer (not real-time) was kept off the processor for many
// milliseconds before it handed the last copy over.
// Thread: any; rung by one renderer only.
class FrameBell {
public:
    [[nodiscard]] std::uint64_t rings() const;
    void ring();
    // Waits until the bell rang past `seen`, or the deadline.
    void waitPast(std::uint64_t seen, std::chrono::steady_clock::time_point deadline);

private:
    std::mutex mutex;
    std::condition_variable rung;
    std::atomic<std::uint64_t> count{0}; // changed under the mutex
};

// Hands finished frames from the rendering thread to the sending thread. The sender
// asks for a frame when it is ready for one; the renderer answers with one. Frames
// change hands by swapping vectors under a lock held only for the swap, so neither
// side copies samples or allocates, and the sender never waits on the renderer for
// longer than the deadline it chooses.
// Thread: the render side from one thread, the sender side from another.
class FrameHandoff {
public:
    using Clock = std::chrono::steady_clock;

    // `bell`, when given, is rung with every request of the sender; `frameBell`, when
    // given, wakes the sender instead of each publish (the renderer rings it). Both
    // must outlive this.
    explicit FrameHandoff(WantBell* ringer = nullptr, FrameBell* framesRung = nullptr)
        : bell(ringer), frameBell(framesRung) {}

    // Render side: whether the sender asked for a frame it has not been given yet.
    [[nodiscard]] bool needsFrame();
    // Render side: waits up to `timeout` until the sender wants a frame; false at
    // once when the sender closed the handoff.
    bool waitUntilWanted(std::chrono::milliseconds timeout);
    // Render side: when the sender asked the wanted frame to be rendered (the distant
    // past: at once).
    [[nodiscard]] Clock::time_point renderTime();
    // Render side: when the sender will ask for the frame after one of `samples` samples
    // that it asked for at `asked`, if the sender said how fast its device plays.
    [[nodiscard]] std::optional<Clock::time_point> foreseeNext(Clock::time_point asked,
                                                               std::size_t samples);
    // Render side: sleeps until `until`, or until the sender closes the handoff; a
    // request meanwhile does not wake it.
    void sleepUntil(Clock::time_point until);
    // Render side: whether the sender closed the handoff.
    [[nodiscard]] bool closed();
    // Render side: puts the frame up for the sender; `frame` gets back a spent one.
    void publish(std::vector<LaserSample>& frame);

    // Sender side: asks the renderer for the next frame, to be rendered at `renderAt`
    // (by default at once). `sampleRate` (samples a second; 0 when not known) lets the
    // renderer foresee the request after this one and sleep until then, so that asking
    // need not wake it.
    void want(Clock::time_point renderAt = Clock::time_point::min(), std::int32_t sampleRate = 0);
    // Sender side: takes the published frame into `frame` (handing over the spent
    // one), which answers any request; false when none is there (or, with a frame
    // bell, none announced yet).
    bool take(std::vector<LaserSample>& frame);
    // Sender side: waits until a frame is published or the deadline passes.
    bool waitForFrame(Clock::time_point deadline);
    // Sender side: asks for nothing more, and wakes a renderer waiting for a request.
    void close();

private:
    [[nodiscard]] bool takeable() const; // under the mutex
    WantBell* bell;
    FrameBell* frameBell;
    std::mutex mutex;
    std::condition_variable renderWake;
    std::condition_variable renderSleep; // the renderer's timed sleep: only close() ends it early
    std::condition_variable senderWake;
    std::vector<LaserSample> published;
    // Written under the mutex; atomic so that the renderer can poll needsFrame() without
    // taking a lock a real-time sender may wait on.
    std::atomic<bool> ready{false};
    std::atomic<bool> wanted{false};
    std::uint64_t announcedBy = 0; // the frame bell's ring that gives the frame out
    Clock::time_point requestedAt = Clock::time_point::min();
    std::int32_t requestRate = 0;
    bool ended = false;
};

} // namespace lumarok
