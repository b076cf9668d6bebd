#include "app/live_operation.hpp"

#include "app/command_line.hpp"
#include "clock/osc_time_provider.hpp"
#include "core/laser_sample.hpp"
#include "output/projector_finder.hpp"
#include "output/projector_slot.hpp"

#include <cstdio>

namespace lumarok {

namespace {

ControlSettings controlSettings(const Options& options) {
    return {options.controlPort, options.controlAddress, options.controlFrom};
}

} // namespace

std::string waitingForLine(const std::string& wanted, const std::vector<std::string>& answering) {
    std::string line = wanted.empty() ? "waiting for a projector\u2026 (answering: "
                                      : "waiting for projector " + wanted + "\u2026 (answering: ";
    for (std::size_t i = 0; i < answering.size(); ++i) {
        line += (i == 0 ? "" : ", ") + answering[i];
    }
    return line + (answering.empty() ? "none)" : ")");
}

LiveOperation::LiveOperation(const Options& options, TimeProvider& showClock,
                             OscTimeProvider* showOscClock, Clock::time_point start)
    : clock(showClock), oscClock(showOscClock), timeoutSeconds(options.clockTimeout),
      control(controlSettings(options), options.intensity * 100.0f),
      nextWaitingLine(start + kFirstWaitingLine) {
    if (oscClock != nullptr) {
        oscClock->passOtherMessages([this](const OscMessageView& message, Ipv4Endpoint source) {
            control.take(message, source);
        });
    }
    if (control.listening() && options.verbosity >= 0) {
        std::fprintf(stderr, "control: OSC on %s\n", control.listenText().c_str());
    }
    describeClock(clock, timeoutSeconds, clockReading);
}

LiveOperation::~LiveOperation() {
    if (oscClock != nullptr) {
        oscClock->passOtherMessages({});
    }
}

void LiveOperation::beforeFrame() {
    control.poll();
}

void LiveOperation::afterFrame() {
    const ClockState before = clockReading.clockState;
    describeClock(clock, timeoutSeconds, clockReading);
    const ClockState now = clockReading.clockState;
    if (now == before) {
        return;
    }
    const char* const heard = clockReading.clockHeard.c_str();
    if (now == ClockState::stale) {
        std::fprintf(stderr, "lumarok: clock: no %s for %.1f s; dark until it comes back\n", heard,
                     clockReading.clockSilentSeconds);
    } else if (before == ClockState::stale) {
        std::fprintf(stderr, "lumarok: clock: %s is back\n", heard);
    }
}

void LiveOperation::applyTo(ProjectorSlot& slot, std::vector<LaserSample>& copy) const {
    const ShowControl& light = control.state();
    // The device's name is read (under the slot's lock) only when a projector is dark.
    float scale = light.someProjectorDark() ? light.scaleFor(slot.wanted(), slot.read().name)
                                            : light.scaleFor(slot.wanted(), {});
    if (clockReading.clockState == ClockState::stale) {
        scale = 0.0f;
    }
    if (scale >= 1.0f) {
        return;
    }
    for (LaserSample& sample : copy) {
        sample.r = static_cast<std::uint16_t>(static_cast<float>(sample.r) * scale);
        sample.g = static_cast<std::uint16_t>(static_cast<float>(sample.g) * scale);
        sample.b = static_cast<std::uint16_t>(static_cast<float>(sample.b) * scale);
    }
}

void LiveOperation::describe(ShowHealth& health) const {
    health.clockSource = clockReading.clockSource;
    health.clockHeard = clockReading.clockHeard;
    health.clockState = clockReading.clockState;
    health.clockSilentSeconds = clockReading.clockSilentSeconds;
    health.clockLive = clockReading.clockLive;
    health.control = control.state().summary();
}

void LiveOperation::tellWaiting(const std::vector<std::unique_ptr<ProjectorSlot>>& slots,
                                ProjectorFinder& finder, Clock::time_point now) {
    if (now < nextWaitingLine) {
        return;
    }
    nextWaitingLine = now + kWaitingLinePeriod;
    std::vector<std::string> answering;
    bool asked = false;
    for (const auto& slot : slots) {
        if (slot->read().state != ProjectorState::waiting) {
            continue;
        }
        if (!asked) {
            answering = finder.answering();
            asked = true;
        }
        std::fprintf(stderr, "%s\n", waitingForLine(slot->wanted(), answering).c_str());
    }
}

} // namespace lumarok
