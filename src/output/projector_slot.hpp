#pragma once

#include "core/laser_sample.hpp"
#include "laser/event_log.hpp"
#include "laser/placement.hpp"
#include "laser/projector_correction.hpp"
#include "laser/projector_link.hpp"
#include "net/ipv4_address.hpp"
#include "output/frame_handoff.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumarok {

class ProjectorFinder;

// waiting: not found yet; playing: fed and heard; stalled: fed, but the device makes
// no room, is not heard for a moment or cannot be reached; lost: not heard for
// kLostAfter, dark and being looked for again.
enum class ProjectorState { waiting, playing, stalled, lost };
[[nodiscard]] const char* stateName(ProjectorState state);

struct SlotSettings {
    std::string wanted; // name or address to discover (and rediscover) it by; empty: any
    Placement placement;
    // Its entry is chosen by the name or address the device reports once found.
    std::shared_ptr<const Venue> venue;
    bool realtime = true;            // sender and receive threads ask for real-time scheduling
    bool onBeat = false;             // frames drawn for the moment they are played (--on-beat)
    std::uint32_t pointRate = 30000; // points a second, for the kinds whose rate is chosen
                                     // (a venue entry's `rate` before it)
};

// What the status shows of one projector.
struct SlotReading {
    std::string name;                   // as the device states it; empty until found
    std::optional<Ipv4Address> address; // nullopt until found
    ProjectorState state = ProjectorState::waiting;
    LinkStats stats; // of the current link; zero while none
};

// One projector of a show, one stream: its link, sender and safety rules. A thread of
// its own waits for the finder to find the projector, starts a sender on it and
// watches it: a projector that falls silent for kLostAfter after it had been heard, or
// whose sender fails, is darkened (as far as it still listens), switched off, reported
// in one line and looked for again, while the others play on. The same rules hold for
// a show of one projector. The renderer publishes frames to frames() while live().
// Thread: construct, finish and destroy on the owner's thread; frames(), scratch()
// and correction() from the render thread; read() and label() from any.
class ProjectorSlot {
public:
    static constexpr std::chrono::seconds kLostAfter{1};

    ProjectorSlot(SlotSettings settings, std::uint16_t index, const std::atomic<bool>& stopSignal,
                  ProjectorFinder& finder, EventLog& log, Doorbell& wants, Doorbell& frames);
    ~ProjectorSlot();
    ProjectorSlot(const ProjectorSlot&) = delete;
    ProjectorSlot& operator=(const ProjectorSlot&) = delete;

    [[nodiscard]] bool live() const { return isLive.load(); }
    FrameHandoff& frames() { return handoff; }
    // What the renderer does to this projector's copy: set once the device is found
    // (its venue entry is chosen by its name or address), before live().
    [[nodiscard]] std::shared_ptr<const ProjectorCorrection> correction() const {
        return corrected.load();
    }
    std::vector<LaserSample>& scratch() { return placed; }
    [[nodiscard]] SlotReading read() const;
    // "NAME at ADDRESS" once found, else the word it was chosen by.
    [[nodiscard]] std::string label() const;
    [[nodiscard]] const std::string& wanted() const { return settings.wanted; }
    // Stops the sender (dark, switched off) and the thread.
    void finish();

private:
    void run();
    // One life of the link: false once a stop was asked for, true when it was lost.
    bool playOnce(bool after);
    // Waits for the projector and makes its link (after choosing its correction); null
    // once a stop was asked for. A LaserCube's source is set in `cubeSource` (given back
    // to the finder after), and the address its information names in `namedAddress`.
    std::unique_ptr<ProjectorLink> findAndLink(bool after, std::optional<Ipv4Address>& cubeSource,
                                               Ipv4Address& namedAddress);
    [[nodiscard]] bool stopping() const { return stop.load() || ownStop.load(); }

    SlotSettings settings;
    std::uint16_t index;
    const std::atomic<bool>& stop;
    ProjectorFinder& finder;
    EventLog& log;
    std::atomic<bool> ownStop{false};
    std::atomic<bool> isLive{false};
    std::atomic<ProjectorState> state{ProjectorState::waiting};
    FrameHandoff handoff;
    std::vector<LaserSample> placed; // render thread only
    std::atomic<std::shared_ptr<const ProjectorCorrection>> corrected;
    mutable std::mutex linkMutex; // guards the three below (never the sender's)
    const ProjectorLink* link = nullptr;
    std::string name;
    std::optional<Ipv4Address> address;
    std::thread thread; // last: starts once everything above is ready
};

} // namespace lumarok
