#pragma once

#include "core/doorbell.hpp"
#include "core/laser_sample.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

namespace lumarok {

// Hands finished frames from the renderer to one real-time sender without a lock: a
// triple buffer whose middle slot changes hands by one atomic exchange, so neither side
// ever waits for the other, copies samples or allocates. `wants` is rung by the sender
// when it asks for a frame (one bell for every sender, so one renderer serves them all
// without polling); `frames` is rung by the renderer once it put up a frame for every
// sender that asked: a copy is the sender's to take only from that ring on, so that
// several projectors start the same frame together even when the renderer, which is not
// real-time, is kept off the processor between two copies.
// Thread: the render side from one thread, the sender side from another.
class FrameHandoff {
public:
    using Clock = std::chrono::steady_clock;

    // Both bells must outlive this.
    FrameHandoff(Doorbell& wants, Doorbell& frames);

    // Render side, wait-free: whether the sender asked for a frame not put up yet.
    [[nodiscard]] bool needsFrame() const;
    // Render side, wait-free: when the sender asked its frame to be played (the moment
    // its first sample is played, by its estimate); zero when it did not say.
    [[nodiscard]] Clock::time_point wantedFor() const;
    // Render side, wait-free: puts the frame up; `frame` gets back a spent one. The
    // sender may take it once the frame bell rang next. `drawnFor`: the moment it was
    // drawn to be played at (zero: now, as it comes).
    void publish(std::vector<LaserSample>& frame, Clock::time_point drawnFor = {});
    // Render side, wait-free.
    [[nodiscard]] bool closed() const { return ended.load(); }

    // Sender side, wait-free: asks for the next frame; `playsAt`, when not zero, is when
    // its first sample will be played. A frame drawn for a moment before `notBefore` is
    // not taken but drawn anew (zero: any frame is taken).
    void want(Clock::time_point playsAt = {}, Clock::time_point notBefore = {});
    // Sender side, wait-free: takes the frame put up into `frame` (handing over the
    // spent one); false when none is there or its ring has not come yet.
    bool take(std::vector<LaserSample>& frame);
    // Sender side: the moment the frame last taken was drawn for (zero: none given).
    [[nodiscard]] Clock::time_point takenFor() const { return moments[front]; }
    // Sender side, may block until the deadline: waits for a frame to take.
    bool waitForFrame(Clock::time_point deadline);
    // Sender side, wait-free: asks for nothing more (a new want() opens it again).
    void close();

private:
    static constexpr std::uint8_t kFresh = 4; // set in `middle` by the renderer
    [[nodiscard]] bool takeable() const;
    // Whether the frame put up last was drawn for a moment the sender takes.
    [[nodiscard]] bool timely() const;

    Doorbell& wantBell;
    Doorbell& frameBell;
    std::array<std::vector<LaserSample>, 3> buffers;
    std::array<Clock::time_point, 3> moments{}; // each buffer's drawnFor, with its buffer
    std::uint8_t back = 0;                      // the renderer's
    std::uint8_t front = 1;                     // the sender's
    std::atomic<std::uint8_t> middle{2};        // index, with kFresh when not taken yet
    std::atomic<std::uint32_t> announcedBy{0};  // the frame bell's ring that gives it out
    std::atomic<bool> wanted{false};
    std::atomic<Clock::rep> wantedAt{0};
    std::atomic<Clock::rep> takesFrom{0};    // the sender's notBefore
    std::atomic<Clock::rep> publishedFor{0}; // the drawnFor of the frame put up last
    std::atomic<bool> ended{false};
};

} // namespace lumarok
