#pragma once

#include "app/control_input.hpp"
#include "status/show_health.hpp"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace lumarok {

class ProjectorFinder;
class ProjectorSlot;
class OscTimeProvider;
class TimeProvider;
struct LaserSample;
struct Options;

// What the operator does to a running laser show besides the show itself: live control
// (blackout, master level, status requests), the clock's timeout, and the lines that
// name what answered while a projector is waited for. All of it acts on the render
// side: each projector's copy of a frame is scaled or darkened before it goes up, so
// the senders keep streaming (dark frames) and the light comes back at once.
// Thread: the renderer's.
class LiveOperation {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kFirstWaitingLine = std::chrono::seconds(2);
    static constexpr auto kWaitingLinePeriod = std::chrono::seconds(5);

    // Takes control on the /Time socket too when the clock is OSC's (oscClock, the same
    // object as clock, or none). Throws the control socket's std::system_error.
    LiveOperation(const Options& options, TimeProvider& clock, OscTimeProvider* oscClock,
                  Clock::time_point start);
    ~LiveOperation();
    LiveOperation(const LiveOperation&) = delete;
    LiveOperation& operator=(const LiveOperation&) = delete;

    // Before a frame is drawn: the control messages waiting.
    void beforeFrame();
    // After a frame is drawn (its time read): whether the clock went stale or came back.
    void afterFrame();
    // Scales (0: darkens) one projector's copy as control and the clock ask.
    void applyTo(ProjectorSlot& slot, std::vector<LaserSample>& copy) const;
    // Fills the clock's state and control's summary into a reading.
    void describe(ShowHealth& health) const;
    // Whether a status request waits for a fresh reading; answers it.
    [[nodiscard]] bool statusAsked() const { return control.asked(); }
    void answer(const ShowHealth& health) { control.answer(health); }
    // One line per projector still waited for, after kFirstWaitingLine, every
    // kWaitingLinePeriod, naming the projectors that answer.
    void tellWaiting(const std::vector<std::unique_ptr<ProjectorSlot>>& slots,
                     ProjectorFinder& finder, Clock::time_point now);

private:
    TimeProvider& clock;
    OscTimeProvider* oscClock;
    double timeoutSeconds;
    ControlInput control;
    ShowHealth clockReading; // clock fields only
    Clock::time_point nextWaitingLine;
};

// "waiting for projector NAME… (answering: A at ADDR, B at ADDR)" ("none" when nothing
// answers; "a projector" for an empty name).
[[nodiscard]] std::string waitingForLine(const std::string& wanted,
                                         const std::vector<std::string>& answering);

} // namespace lumarok
