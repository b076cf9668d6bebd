#include "app/projector_slot.hpp"

#include "app/laser_sender.hpp"

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

namespace lumarok {

namespace {

using Clock = std::chrono::steady_clock;

// How often the watch looks at the link.
constexpr auto kWatchPeriod = std::chrono::milliseconds(50);
// Silent this long while playing: stalled, not yet lost.
constexpr auto kQuietAfter = std::chrono::milliseconds(250);
// A link that cannot be made (no socket, no interface) is tried again after this.
constexpr auto kRetryAfter = std::chrono::seconds(1);

void sleepUnlessStopped(Clock::duration duration, const std::atomic<bool>& a,
                        const std::atomic<bool>& b) {
    const Clock::time_point end = Clock::now() + duration;
    while (!a.load() && !b.load() && Clock::now() < end) {
        std::this_thread::sleep_for(kWatchPeriod);
    }
}

} // namespace

const char* stateName(ProjectorState state) {
    switch (state) {
    case ProjectorState::waiting:
        return "waiting";
    case ProjectorState::playing:
        return "playing";
    case ProjectorState::stalled:
        return "stalled";
    case ProjectorState::lost:
        return "lost";
    }
    return "?";
}

ProjectorSlot::ProjectorSlot(SlotSettings chosen, const std::atomic<bool>& stopSignal,
                             WantBell& bell, FrameBell& frameBell)
    : settings(std::move(chosen)), stop(stopSignal), handoff(&bell, &frameBell) {
    thread = std::thread(&ProjectorSlot::run, this);
}

ProjectorSlot::~ProjectorSlot() {
    finish();
}

void ProjectorSlot::finish() {
    ownStop.store(true);
    if (thread.joinable()) {
        thread.join();
    }
}

SlotReading ProjectorSlot::read() const {
    SlotReading reading;
    reading.state = state.load();
    const std::lock_guard lock(linkMutex);
    reading.name = name;
    reading.address = address;
    if (link != nullptr) {
        reading.stats = link->stats();
    }
    return reading;
}

void ProjectorSlot::run() {
    RateLimitedLine complaints(std::chrono::seconds(10));
    bool after = false;
    while (!stopping()) {
        try {
            if (!playOnce(after)) {
                return;
            }
            after = true;
        } catch (const std::exception& e) {
            // The others play on; this one is tried again.
            complaints.print("projector " + settings.wanted + ": " + e.what());
            sleepUnlessStopped(kRetryAfter, stop, ownStop);
        }
    }
}

bool ProjectorSlot::playOnce(bool after) {
    std::unique_ptr<LaserCubeLink> made;
    try {
        made = std::make_unique<LaserCubeLink>(
            &ownStop, ProjectorChoice{{settings.wanted}, settings.interfaceName}, settings.realtime,
            LinkPorts::anyFree);
    } catch (const DiscoveryCancelled&) {
        return false;
    }
    LaserCubeLink& current = *made;
    {
        const std::lock_guard lock(linkMutex);
        link = &current;
        name = current.name();
        address = current.address();
    }
    const std::string label = (name.empty() ? settings.wanted : name) + " at " + address;
    if (after) {
        std::fprintf(stderr, "lumarok: projector %s answers again\n", label.c_str());
    }
    state.store(ProjectorState::playing);
    std::string why;
    {
        isLive.store(true); // before the sender's first request, so that it is heard
        LaserSender sender(current, handoff, stop, settings.realtime, true);
        const std::uint64_t reportsAtStart = current.stats().deviceReports;
        std::uint64_t reports = reportsAtStart;
        std::uint64_t stalls = current.stats().stalls;
        Clock::time_point heard = Clock::now();
        Clock::time_point stalledAt{};
        while (!stopping() && !sender.failed().load()) {
            std::this_thread::sleep_for(kWatchPeriod);
            const LinkStats now = current.stats();
            const Clock::time_point at = Clock::now();
            if (now.deviceReports != reports) {
                reports = now.deviceReports;
                heard = at;
            }
            if (now.stalls != stalls) {
                stalls = now.stalls;
                stalledAt = at;
            }
            // A device never heard from after discovery is paced on the estimate.
            const bool everHeard = reports != reportsAtStart;
            if (everHeard && at - heard > kLostAfter) {
                why = "nothing heard for " + std::to_string(kLostAfter.count()) + " s";
                break;
            }
            const bool troubled = now.sendFailing || (everHeard && at - heard > kQuietAfter) ||
                                  at - stalledAt < std::chrono::seconds(1);
            state.store(troubled ? ProjectorState::stalled : ProjectorState::playing);
        }
        isLive.store(false);
        try {
            sender.finish(); // dark where the beam is, then off
        } catch (const std::exception& e) {
            why = e.what();
        }
    }
    {
        const std::lock_guard lock(linkMutex);
        link = nullptr;
    }
    made.reset();
    if (stopping()) {
        return false;
    }
    state.store(ProjectorState::lost);
    std::fprintf(stderr, "lumarok: projector %s lost (%s); dark, looking for it again\n",
                 label.c_str(), why.c_str());
    return true;
}

} // namespace lumarok
