#include "output/projector_slot.hpp"

#include "laser/etherdream_listener.hpp"
#include "laser/idn_scanner.hpp"
#include "laser/lasercube_link.hpp"
#include "laser/realtime.hpp"
#include "laser/venue_file.hpp"
#include "output/laser_sender.hpp"
#include "output/projector_finder.hpp"

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

namespace lumarok {

namespace {

using Clock = std::chrono::steady_clock;

// How often the watch looks at the link.
constexpr auto kWatchPeriod = std::chrono::milliseconds(100);
// Silent this long while playing: stalled, not yet lost.
constexpr auto kQuietAfter = std::chrono::milliseconds(250);
// A link that cannot be made (no socket) is tried again after this.
constexpr auto kRetryAfter = std::chrono::seconds(1);
// How often the device is asked for its information while it reports.
constexpr auto kAskEvery = std::chrono::seconds(2);
// Waiting this long for the projector is told in one line.
constexpr auto kTellWaitingAfter = std::chrono::milliseconds(300);

void sleepUnlessStopped(Clock::duration duration, const std::atomic<bool>& a,
                        const std::atomic<bool>& b) {
    const Clock::time_point end = Clock::now() + duration;
    while (!a.load() && !b.load() && Clock::now() < end) {
        std::this_thread::sleep_for(kWatchPeriod);
    }
}

// The process's memory is locked once, when the first frame is out: off the path to it.
void lockMemoryOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (const char* refused = lockMemory()) {
            std::fprintf(stderr, "lumarok: %s\n", refused);
        }
    });
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

ProjectorSlot::ProjectorSlot(SlotSettings chosen, std::uint16_t number,
                             const std::atomic<bool>& stopSignal, ProjectorFinder& projectors,
                             EventLog& events, Doorbell& wants, Doorbell& frames)
    : settings(std::move(chosen)), index(number), stop(stopSignal), finder(projectors), log(events),
      handoff(wants, frames) {
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

std::string ProjectorSlot::label() const {
    const std::lock_guard lock(linkMutex);
    if (!address) {
        return settings.wanted.empty() ? "(any)" : settings.wanted;
    }
    return (name.empty() ? settings.wanted : name) + " at " + address->text();
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
            // The others play on; this one is tried again (unless the show stops).
            if (!stopping()) {
                complaints.print("projector " + label() + ": " + e.what());
            }
            sleepUnlessStopped(kRetryAfter, stop, ownStop);
        }
    }
}

std::unique_ptr<ProjectorLink> ProjectorSlot::findAndLink(bool after,
                                                          std::optional<Ipv4Address>& cubeSource,
                                                          Ipv4Address& namedAddress) {
    // Tells the operator once when the projector keeps him waiting.
    std::jthread teller([&](std::stop_token token) {
        const Clock::time_point at = Clock::now() + kTellWaitingAfter;
        while (!token.stop_requested() && Clock::now() < at) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!token.stop_requested() && !after) {
            const std::string what =
                settings.wanted.empty() ? "a projector" : "projector " + settings.wanted;
            const std::string where = finder.interface().empty() ? "" : " on " + finder.interface();
            std::fprintf(stderr, "waiting for %s%s\u2026\n", what.c_str(), where.c_str());
        }
    });
    // Returns the point rate the venue entry asks (the command line's without one).
    const auto choose = [this](const std::string& deviceName, Ipv4Address deviceAddress) {
        // Chosen before the link starts the projector: a venue entry that cannot go
        // with the command line leaves it untouched.
        const VenueEntry* entry =
            settings.venue ? settings.venue->find(deviceName, deviceAddress.text()) : nullptr;
        corrected.store(std::make_shared<const ProjectorCorrection>(
            settings.placement, entry, settings.venue ? settings.venue->path : ""));
        return pointRateOf(entry, settings.pointRate);
    };
    if (const std::optional<Ipv4Address> dac = etherDreamAddress(settings.wanted)) {
        // Heard by its status broadcast, which states its buffer and its top rate.
        EtherDreamListener listener;
        std::optional<EtherDreamFound> found;
        while (!found && !stopping()) {
            found = listener.next(*dac, Clock::now() + std::chrono::seconds(1), stop, ownStop);
        }
        if (!found) {
            return nullptr;
        }
        teller.request_stop();
        const std::uint32_t rate = choose(found->name(), found->source);
        return std::make_unique<EtherDreamLink>(*found, rate, log, index,
                                                StopFlags{&stop, &ownStop});
    }
    if (const std::optional<IdnWord> unit = idnWord(settings.wanted)) {
        IdnScanner scanner;
        std::optional<IdnFound> found;
        std::uint8_t status = 0;
        std::uint8_t told = 0;
        while (!found && !stopping()) {
            found =
                scanner.find(*unit, Clock::now() + std::chrono::seconds(1), stop, ownStop, status);
            // An occupied or excluded unit is told once, and waited for.
            if (!found && status != told && !idnStatusWords(status).empty()) {
                std::fprintf(stderr, "lumarok: IDN unit %s: %s; waiting for it\n",
                             settings.wanted.c_str(), idnStatusWords(status).c_str());
                told = status;
            }
        }
        if (!found) {
            return nullptr;
        }
        teller.request_stop();
        const std::uint32_t rate = choose(found->name(), found->source);
        return std::make_unique<IdnLink>(*found, rate, log, index);
    }
    std::optional<FoundProjector> found = finder.find(settings.wanted, ownStop);
    teller.request_stop();
    if (!found) {
        return nullptr;
    }
    try {
        (void)choose(found->info.deviceName, found->source.address); // its rate is its own
        namedAddress = found->info.deviceAddress;
        auto made = std::make_unique<LaserCubeLink>(*found, log, index, settings.realtime);
        cubeSource = found->source.address;
        return made;
    } catch (...) {
        finder.release(found->source.address);
        throw;
    }
}

bool ProjectorSlot::playOnce(bool after) {
    std::optional<Ipv4Address> cubeSource;
    Ipv4Address namedAddress;
    std::unique_ptr<ProjectorLink> made = findAndLink(after, cubeSource, namedAddress);
    if (!made) {
        return false;
    }
    ProjectorLink& current = *made;
    {
        const std::lock_guard lock(linkMutex);
        link = &current;
        name = current.name();
        address = current.address();
    }
    const std::string where = label();
    std::fputs(foundLine(current.name(), current.address()).c_str(), stdout);
    std::fflush(stdout);
    if (cubeSource && namedAddress != kAnyAddress && namedAddress != *cubeSource) {
        const std::string from = cubeSource->text();
        std::fprintf(stderr,
                     "lumarok: the projector names address %s but answers from %s; using %s\n",
                     namedAddress.text().c_str(), from.c_str(), from.c_str());
    }
    if (after) {
        std::fprintf(stderr, "lumarok: projector %s answers again\n", where.c_str());
    } else {
        std::fprintf(stderr, "projector: %s\n", where.c_str());
    }
    state.store(ProjectorState::playing);
    std::string why;
    bool closedDark = true;
    {
        isLive.store(true); // before the sender's first request, so that it is heard
        LaserSender sender(current, handoff, stop, log, index, settings.realtime, settings.onBeat);
        // Anything the device says, believed or not, shows that it is there.
        const std::uint64_t reportsAtStart = current.stats().datagramsHeard;
        std::uint64_t reports = reportsAtStart;
        std::uint64_t stalls = current.stats().stalls;
        Clock::time_point heard = Clock::now();
        // Discovery timed the round trip just now: the first question can wait.
        Clock::time_point asked = Clock::now();
        Clock::time_point watched = Clock::now();
        Clock::time_point stalledAt{};
        while (!stopping() && !sender.failed().load()) {
            std::this_thread::sleep_for(kWatchPeriod);
            if (stopping() || sender.failed().load()) {
                break; // the sender has switched the device off already
            }
            if (sender.sentAFrame()) {
                lockMemoryOnce();
            }
            const LinkStats now = current.stats();
            const Clock::time_point at = Clock::now();
            // This watch was itself kept from running (the process stopped, the machine
            // suspended): silence meanwhile says nothing about the device.
            if (at - watched > 5 * kWatchPeriod) {
                heard = at;
            }
            watched = at;
            // While the network refuses the stream nothing can be heard: the stream keeps
            // its place and waits for the network instead of counting the device lost.
            if (now.datagramsHeard != reports || now.sendFailing) {
                reports = now.datagramsHeard;
                heard = at;
            }
            if (now.stalls != stalls) {
                stalls = now.stalls;
                stalledAt = at;
            }
            // Quiet for a while: is it there at all? One that stopped reporting but still
            // answers plays on, paced on the estimate. Asked now and then besides, to time
            // the round trip the pacing allows for.
            if ((at - heard > kQuietAfter && at - asked > kQuietAfter) || at - asked > kAskEvery) {
                current.askForInformation();
                asked = at;
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
            // Dark where the beam is, then off; when the show stops, tried until the
            // network takes them, for a while.
            sender.finish(stopping());
        } catch (const std::exception& e) {
            why = e.what();
        }
        closedDark = sender.closedDark();
    }
    {
        const std::lock_guard lock(linkMutex);
        link = nullptr;
    }
    made.reset();
    if (cubeSource) {
        finder.release(*cubeSource);
    }
    if (stopping()) {
        if (!closedDark) {
            std::fprintf(stderr, "lumarok: projector %s could not be reached to darken it\n",
                         where.c_str());
        }
        return false;
    }
    state.store(ProjectorState::lost);
    std::fprintf(stderr, "lumarok: projector %s lost (%s); dark, looking for it again\n",
                 where.c_str(), why.c_str());
    return true;
}

} // namespace lumarok
