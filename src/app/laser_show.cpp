#include "app/laser_show.hpp"

#include "app/command_line.hpp"
#include "app/live_operation.hpp"
#include "app/stop_signals.hpp"
#include "clock/remap_time.hpp"
#include "clock/time_provider.hpp"
#include "laser/etherdream_listener.hpp"
#include "laser/event_log.hpp"
#include "laser/idn_scanner.hpp"
#include "laser/laser_frame.hpp"
#include "laser/pacing.hpp"
#include "laser/show_frame.hpp"
#include "laser/static_guard.hpp"
#include "output/projector_finder.hpp"
#include "output/projector_slot.hpp"
#include "show/effect_kind.hpp"
#include "show/show_objects.hpp"
#include "status/laser_status.hpp"
#include "status/show_health.hpp"
#include "status/status_sender.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace lumarok {

namespace {

using Clock = std::chrono::steady_clock;

// How long --projector all listens for answers before the show starts.
constexpr auto kAllWindow = std::chrono::seconds(1);
// Ether Dreams are only listened for: they broadcast once a second, so a little longer.
constexpr auto kAllDacWindow = std::chrono::milliseconds(1200);
// Once one sender asks for a frame, the renderer waits this long for the others, so
// that one frame goes to all of them at once (their buffers hold far more).
constexpr auto kGatherWait = std::chrono::milliseconds(8);
// On the beat a projector that asks out of step with the others gets, when the renderer has
// waited for it, the frame drawn for its own moment while the others lead theirs up to it:
// from then on they are in step. One that asks later than the wait takes the frame drawn
// for the others' moment and plays it late, and stays out of step: so the renderer waits
// longer, up to half a frame of 50 ms. A device waited for comes that much below its reserve
// once (its frame still plays on the beat, led up to the later moment).
constexpr auto kOnBeatGatherWait = std::chrono::milliseconds(25);
constexpr auto kHealthPeriod = std::chrono::seconds(1);
// Longest wait for a request while none is pending: how late the health messages and a
// stop are seen while no projector plays.
constexpr auto kGatherPoll = std::chrono::milliseconds(100);

// The words that name every Ether Dream and IDN unit heard within the window:
// "etherdream:ADDR", "idn:ADDR/SERVICE".
std::vector<std::string> otherKindsHeard(const std::atomic<bool>& stop) {
    std::vector<std::string> dacs;
    std::exception_ptr failure;
    {
        const std::jthread listening([&] {
            try {
                EtherDreamListener listener;
                for (const EtherDreamFound& dac : listener.collect(kAllDacWindow, stop)) {
                    dacs.push_back("etherdream:" + dac.source.text());
                }
            } catch (...) {
                failure = std::current_exception();
            }
        });
        IdnScanner scanner;
        for (const IdnFound& unit : scanner.collect(kAllWindow, stop)) {
            if (unit.service.id != 0) { // a unit without a laser service is not played on
                dacs.push_back("idn:" + unit.source.text() + "/" + std::to_string(unit.service.id));
            }
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    return dacs;
}

std::vector<SlotSettings> chooseProjectors(const Options& options, ProjectorFinder& finder,
                                           const std::shared_ptr<const Venue>& venue,
                                           const std::atomic<bool>& stop) {
    std::vector<SlotSettings> chosen;
    if (!options.allProjectors) {
        for (const WantedProjector& projector : options.projectors) {
            chosen.push_back({projector.name, projector.placement, venue, true, options.onBeat});
        }
        if (chosen.empty()) {
            chosen.push_back({{}, {}, venue, true, options.onBeat}); // whichever answers first
        }
        return chosen;
    }
    std::vector<std::string> others;
    std::exception_ptr failure;
    {
        const std::jthread asking([&] {
            try {
                others = otherKindsHeard(stop);
            } catch (...) {
                failure = std::current_exception();
            }
        });
        for (const FoundProjector& found : finder.collect(kAllWindow)) {
            // By the address it answers from: names may repeat or be empty, and the address
            // a device announces may be another.
            chosen.push_back(
                {found.source.address.text(), *options.allProjectors, venue, true, options.onBeat});
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    for (const std::string& word : others) {
        chosen.push_back({word, *options.allProjectors, venue, true, options.onBeat});
    }
    if (chosen.empty()) {
        throw std::runtime_error("no projector answered within 1 s");
    }
    return chosen;
}

struct Needs {
    bool any = false;
    bool all = true;
};

Needs needs(std::vector<std::unique_ptr<ProjectorSlot>>& slots) {
    Needs result;
    for (const auto& slot : slots) {
        if (slot->live()) {
            const bool wanting = slot->frames().needsFrame();
            result.any = result.any || wanting;
            result.all = result.all && wanting;
        }
    }
    return result;
}

// Renders when every playing projector wants a frame, or `wait` after the first
// did. The bell only saves polling: what the senders want is read from them.
bool gather(const Doorbell& wants, std::vector<std::unique_ptr<ProjectorSlot>>& slots,
            Clock::duration wait) {
    std::uint32_t seen = wants.rings();
    Needs now = needs(slots);
    if (!now.any) {
        wants.waitPast(seen, Clock::now() + kGatherPoll);
        seen = wants.rings();
        now = needs(slots);
    }
    const Clock::time_point deadline = Clock::now() + wait;
    while (now.any && !now.all && Clock::now() < deadline) {
        wants.waitPast(seen, deadline);
        seen = wants.rings();
        now = needs(slots);
    }
    return now.any;
}

// The moment the next frame is played: the latest that the projectors asking for it name
// (they are in step: their moments lie together), which every one of them can reach (one
// that named an earlier moment leads its copy with dark up to it); zero when none names one.
Clock::time_point playMomentOf(std::vector<std::unique_ptr<ProjectorSlot>>& slots) {
    Clock::time_point latest{};
    for (const auto& slot : slots) {
        if (slot->live() && slot->frames().needsFrame()) {
            latest = std::max(latest, slot->frames().wantedFor());
        }
    }
    return latest;
}

// Samples per second of each projector since the previous reading.
class SampleRates {
public:
    explicit SampleRates(std::size_t count) : before(count, 0) {}
    double next(std::size_t index, std::uint64_t sent, double seconds) {
        // A new link counts from zero again.
        const std::uint64_t added = sent >= before[index] ? sent - before[index] : sent;
        before[index] = sent;
        return seconds > 0.0 ? static_cast<double>(added) / seconds : 0.0;
    }

private:
    std::vector<std::uint64_t> before;
};

// The copy of a frame that goes on the wire to one projector: corrected for it (placed,
// corners, colour, zones), through its static-beam guard, and ending on a dark sample
// at its last position, so that what a device holds always ends dark whatever becomes
// of the stream. Room is kept for the dark lead the sender puts before it, so that the
// sender allocates nothing.
StaticGuard::Change wireCopy(const ProjectorCorrection& correction, StaticGuard& guard,
                             const std::vector<LaserSample>& samples,
                             std::vector<LaserSample>& copy, Clock::time_point now) {
    correction.apply(samples, copy);
    const StaticGuard::Change change = guard.apply(copy, now);
    if (copy.empty()) {
        return change;
    }
    // The lead is at most the reserve, which a slow network raises above kPacingReserve.
    copy.reserve(copy.size() + 1 + 3 * kPacingReserve);
    const LaserSample last = copy.back();
    if (last.r != 0 || last.g != 0 || last.b != 0) {
        copy.push_back(LaserSample{last.x, last.y, 0, 0, 0});
    }
    return change;
}

// The renderer's own part of a projector: the correction it last took from the slot
// and the guard that goes with it (anew with each new correction, i.e. each new link).
struct RenderSide {
    std::shared_ptr<const ProjectorCorrection> correction;
    StaticGuard guard;
};

void copyFor(ProjectorSlot& slot, RenderSide& side, const std::vector<LaserSample>& samples,
             const LiveOperation& operation, Clock::time_point playsAt) {
    std::shared_ptr<const ProjectorCorrection> current = slot.correction();
    if (!current) {
        return; // not found yet: nothing to publish to
    }
    if (current != side.correction) {
        side.guard = StaticGuard(current->staticGuard());
        side.correction = std::move(current);
    }
    const StaticGuard::Change change =
        wireCopy(*side.correction, side.guard, samples, slot.scratch(), Clock::now());
    if (change == StaticGuard::Change::tripped) {
        std::fprintf(stderr,
                     "lumarok: projector %s: the lit beam stayed within %g %% for %d ms; dark "
                     "until the picture spreads again\n",
                     slot.label().c_str(), side.correction->staticGuard().size,
                     side.correction->staticGuard().afterMs);
    } else if (change == StaticGuard::Change::released) {
        std::fprintf(stderr, "lumarok: projector %s: the picture spreads again; lit\n",
                     slot.label().c_str());
    }
    operation.applyTo(slot, slot.scratch()); // live blackout and master level
    slot.frames().publish(slot.scratch(), playsAt);
}

} // namespace

LaserFrameBuilder showFrameBuilder(const ShowObjects& show, float intensity, ShowEnd end) {
    const ShowSources sources{*show.gAnimation, *show.gRemapTable, *show.gTimeline};
    auto buffers = std::make_shared<ShowFrameBuffers>(); // kept: steady frames do not allocate
    return
        [&show, sources, buffers, intensity, end](std::vector<LaserSample>& samples, glm::vec2 beam,
                                                  double& showSeconds, Clock::time_point drawFor) {
            const EndedClock clock = atShowEnd(end, clockTimeFor(*show.gTimeProvider, drawFor));
            showSeconds = remapTime(*show.gRemapTable, clock.clockSeconds);
            if (clock.dark) {
                samples.clear();
                return beam;
            }
            const ColorFrame& frame = renderShowFrame(sources, showSeconds, *buffers);
            return buildLaserFramePath(frame, samples, beam, intensity, buffers->pathLengths)
                .beamPosition;
        };
}

void runLaserShow(const ShowObjects& show, const Options& options, LaserFrameBuilder build,
                  std::shared_ptr<const Venue> venue) {
    const StopSignals signals;
    const std::atomic<bool>& stop = signals.stopRequested();
    ProjectorFinder finder(options.interfaceName, stop);
    std::vector<SlotSettings> chosen = chooseProjectors(options, finder, venue, stop);
    StatusSender statusSender(options.statusTo);
    EventLog events;
    Doorbell wants;
    Doorbell frames; // one wake for all senders, once every copy is up
    std::vector<std::unique_ptr<ProjectorSlot>> slots;
    for (SlotSettings& settings : chosen) {
        settings.pointRate = options.pointRate;
        slots.push_back(std::make_unique<ProjectorSlot>(std::move(settings),
                                                        static_cast<std::uint16_t>(slots.size()),
                                                        stop, finder, events, wants, frames));
    }
    // Made once the list is complete (it reads it), gone before the slots are.
    EventPrinter printer(events, [&slots](std::uint16_t index) {
        return index < slots.size() ? slots[index]->label() : std::string("?");
    });
    std::vector<LaserSample> samples;
    glm::vec2 beam{0.0f, 0.0f};
    const Clock::time_point start = Clock::now();
    LiveOperation operation(options, *show.gTimeProvider, show.oscClock, start);
    StatusLine statusLine = StatusLine::forStderr(options.verbosity < 0, start);
    ShowHealth health;
    SampleRates rates(slots.size());
    std::vector<RenderSide> sides(slots.size());
    std::uint64_t framesDrawn = 0;
    // The music's own output delay: the light is drawn for that much earlier a moment.
    const auto latency = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(options.latencyMs.value_or(0.0)));
    Clock::time_point lastReading = start;
    Clock::time_point nextHealth = start + kHealthPeriod;
    while (!stop.load()) {
        if (gather(wants, slots, options.onBeat ? kOnBeatGatherWait : kGatherWait)) {
            const Clock::time_point playsAt =
                options.onBeat ? playMomentOf(slots) : Clock::time_point{};
            const Clock::time_point drawFor =
                playsAt == Clock::time_point{} ? playsAt : playsAt - latency;
            operation.beforeFrame();
            beam = build(samples, beam, health.showSeconds, drawFor);
            operation.afterFrame();
            for (std::size_t i = 0; i < slots.size(); ++i) {
                if (slots[i]->live()) {
                    copyFor(*slots[i], sides[i], samples, operation, playsAt);
                }
            }
            frames.ring();
            ++framesDrawn;
        }
        const Clock::time_point now = Clock::now();
        operation.beforeFrame(); // also while nothing is drawn
        operation.tellWaiting(slots, finder, now);
        const bool lineDue = statusLine.due(now);
        if (!lineDue && now < nextHealth && !operation.statusAsked()) {
            continue;
        }
        // Also while no projector plays and nothing is drawn. Without a timeline (ILDA files)
        // the show time is the clock's.
        const double clockSeconds = show.gTimeProvider->getTime();
        health.showSeconds =
            show.gRemapTable ? remapTime(*show.gRemapTable, clockSeconds) : clockSeconds;
        const double seconds = std::chrono::duration<double>(now - lastReading).count();
        health.framesPerSecond = seconds > 0.0 ? static_cast<double>(framesDrawn) / seconds : 0.0;
        if (show.gTimeline) {
            health.entry = show.gTimeline->selectedIndex(health.showSeconds);
            health.effectKind = effectKind(show.gTimeline->effectAt(health.showSeconds));
        } else {
            health.effectKind = "ilda";
        }
        operation.afterFrame();
        operation.describe(health);
        health.projectors.clear();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            const SlotReading reading = slots[i]->read();
            health.projectors.push_back({reading.name.empty() ? slots[i]->wanted() : reading.name,
                                         rates.next(i, reading.stats.samplesSent, seconds),
                                         reading.stats.bufferFree, reading.stats.impliedUnderruns,
                                         reading.state});
        }
        framesDrawn = 0;
        lastReading = now;
        operation.answer(health);
        if (now >= nextHealth) {
            statusSender.send(health);
            nextHealth = now + kHealthPeriod;
        }
        if (lineDue) {
            statusLine.show(formatHealthLine(health), now);
        }
    }
    for (const auto& slot : slots) {
        slot->finish();
    }
    printer.flush();
}

} // namespace lumarok
