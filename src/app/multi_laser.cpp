#include "app/multi_laser.hpp"

#include "app/command_line.hpp"
#include "app/effect_kind.hpp"
#include "app/laser_loop.hpp"
#include "app/laser_status.hpp"
#include "app/projector_slot.hpp"
#include "app/show_frame.hpp"
#include "app/show_health.hpp"
#include "app/show_objects.hpp"
#include "app/status_sender.hpp"
#include "app/stop_signals.hpp"
#include "clock/remap_time.hpp"
#include "clock/time_provider.hpp"
#include "laser/discovery.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include <net/if.h>

namespace lumarok {

namespace {

using Clock = std::chrono::steady_clock;

// How long --projector all listens for answers before the show starts.
constexpr auto kAllWindow = std::chrono::seconds(1);
// Once one sender asks for a frame, the renderer waits this long for the others, so
// that one frame goes to all of them at once (their buffers hold far more).
constexpr auto kGatherWait = std::chrono::milliseconds(8);
constexpr auto kHealthPeriod = std::chrono::seconds(1);
// Longest wait for a request while none is pending. A sender that ends rings the bell
// too, so this only bounds how late the health messages and a stop are seen while
// no projector plays.
constexpr auto kGatherPoll = std::chrono::milliseconds(100);

std::vector<SlotSettings> chooseProjectors(const Options& options, const std::atomic<bool>& stop) {
    std::vector<SlotSettings> chosen;
    // Refused here, once, rather than by every projector's discovery again and again.
    if (!options.interfaceName.empty() && ::if_nametoindex(options.interfaceName.c_str()) == 0) {
        throw std::invalid_argument("no network interface " + options.interfaceName);
    }
    if (!options.allProjectors) {
        for (std::size_t i = 0; i < options.projectors.size(); ++i) {
            chosen.push_back({options.projectors[i], options.interfaceName, options.placements[i]});
        }
        return chosen;
    }
    UdpSocket socket(0);
    socket.enableBroadcast();
    socket.bind(0);
    Discovery discovery(socket, ProjectorChoice{{}, options.interfaceName});
    for (const FoundProjector& found : discovery.collect(kAllWindow, &stop)) {
        // By address: names may repeat or be empty.
        chosen.push_back({found.info.deviceAddress, options.interfaceName, options.allPlacement});
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

// Renders when every playing projector wants a frame, or kGatherWait after the first
// did. The bell only saves polling: what the senders want is read from them.
bool gather(WantBell& bell, std::vector<std::unique_ptr<ProjectorSlot>>& slots) {
    Needs now = needs(slots);
    if (!now.any) {
        (void)bell.waitUntil(Clock::now() + kGatherPoll);
        now = needs(slots);
    }
    const Clock::time_point deadline = Clock::now() + kGatherWait;
    while (now.any && !now.all) {
        if (!bell.waitUntil(deadline) && Clock::now() >= deadline) {
            break;
        }
        now = needs(slots);
    }
    return now.any;
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

} // namespace

bool wantsSeveralProjectors(const Options& options) {
    return options.allProjectors || options.projectors.size() > 1 ||
           std::any_of(options.placements.begin(), options.placements.end(),
                       [](const Placement& p) { return !p.identity(); }) ||
           !options.statusTo.empty();
}

void runMultiLaserMode(const ShowObjects& show, const Options& options, float intensity) {
    const StopSignals signals;
    const std::atomic<bool>& stop = signals.stopRequested();
    std::vector<SlotSettings> chosen;
    try {
        chosen = chooseProjectors(options, stop);
    } catch (const DiscoveryCancelled&) {
        return;
    }
    StatusSender statusSender(options.statusTo);
    WantBell bell;
    FrameBell frameBell; // one wake for all senders, once every copy is up
    std::vector<std::unique_ptr<ProjectorSlot>> slots;
    for (SlotSettings& settings : chosen) {
        if (options.verbosity >= 0) {
            std::fprintf(stderr, "projector: %s\n", settings.wanted.c_str());
        }
        slots.push_back(
            std::make_unique<ProjectorSlot>(std::move(settings), stop, bell, frameBell));
    }
    const ShowSources sources{*show.gAnimation, *show.gRemapTable, *show.gTimeline};
    ShowFrameBuffers buffers; // kept from frame to frame: steady frames do not allocate
    std::vector<LaserSample> samples;
    glm::vec2 beam{0.0f, 0.0f};
    const Clock::time_point start = Clock::now();
    StatusLine statusLine = StatusLine::forStderr(options.verbosity < 0, start);
    ShowHealth health;
    SampleRates rates(slots.size());
    std::uint64_t frames = 0;
    Clock::time_point lastReading = start;
    Clock::time_point nextHealth = start + kHealthPeriod;
    while (!stop.load()) {
        if (gather(bell, slots)) {
            health.showSeconds = remapTime(*show.gRemapTable, show.gTimeProvider->getTime());
            const ColorFrame& frame = renderShowFrame(sources, health.showSeconds, buffers);
            beam = buildLaserFramePath(frame, samples, beam, intensity).beamPosition;
            for (const auto& slot : slots) {
                if (slot->live()) {
                    placeSamples(slot->placement(), samples, slot->scratch());
                    slot->frames().publish(slot->scratch());
                }
            }
            frameBell.ring();
            ++frames;
        }
        const Clock::time_point now = Clock::now();
        const bool lineDue = statusLine.due(now);
        if (!lineDue && now < nextHealth) {
            continue;
        }
        // Also while no projector plays and nothing is rendered.
        health.showSeconds = remapTime(*show.gRemapTable, show.gTimeProvider->getTime());
        const double seconds = std::chrono::duration<double>(now - lastReading).count();
        health.framesPerSecond = seconds > 0.0 ? static_cast<double>(frames) / seconds : 0.0;
        health.entry = show.gTimeline->selectedIndex(health.showSeconds);
        health.effectKind = effectKind(show.gTimeline->effectAt(health.showSeconds));
        describeClock(show.gTimeProvider.get(), health);
        health.projectors.clear();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            const SlotReading reading = slots[i]->read();
            health.projectors.push_back({reading.name.empty() ? slots[i]->wanted() : reading.name,
                                         rates.next(i, reading.stats.samplesSent, seconds),
                                         reading.stats.bufferFree, reading.stats.impliedUnderruns,
                                         reading.state});
        }
        frames = 0;
        lastReading = now;
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
}

} // namespace lumarok
