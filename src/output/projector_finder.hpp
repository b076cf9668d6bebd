#pragma once

#include "laser/discovery.hpp"
#include "net/udp_socket.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace lumarok {

// Finds the projectors a show waits for, from one thread, on the device protocol's
// command port (which the links of the projectors found share): one discovery for all
// of them, each answer handed to whoever waits for that projector. A projector that
// already plays is not handed out again, so one device named twice (by name and by
// address) plays once. Thread: find() from several threads at once (normal priority).
class ProjectorFinder {
public:
    // Throws std::invalid_argument for a named interface that does not exist and
    // std::system_error when the command port cannot be had.
    ProjectorFinder(std::string interfaceName, const std::atomic<bool>& stop);
    ~ProjectorFinder();
    ProjectorFinder(const ProjectorFinder&) = delete;
    ProjectorFinder& operator=(const ProjectorFinder&) = delete;

    // Blocks until a projector `wanted` (a name or dotted address; empty: any) answers
    // that plays nowhere else; it then counts as playing until release(). Nullopt once
    // `cancel` or the stop is raised.
    std::optional<FoundProjector> find(const std::string& wanted, const std::atomic<bool>& cancel);
    void release(Ipv4Address source);
    [[nodiscard]] const std::string& interface() const { return interfaceName; }
    // The projector at this source already plays, under the word it was chosen by.
    [[nodiscard]] std::optional<std::string> playingAs(Ipv4Address source);

    // "NAME at ADDRESS" of every projector heard within the last few seconds or playing,
    // in order of address: what did answer while one is waited for.
    [[nodiscard]] std::vector<std::string> answering();

    // Every projector that answers within `duration`, one per source, in order of
    // address (before any find()).
    std::vector<FoundProjector> collect(std::chrono::milliseconds duration);

private:
    void run();
    // Hands an answer to whoever waits for that projector. Under mutex.
    void deliver(const FoundProjector& answer);
    // A device that plays already answered a word another slot waits for. Under mutex.
    void tellSamePlaysOnce(const FoundProjector& answer, const std::string& playedAs);
    // The words to ask for (empty: any projector), or nothing to ask. Under the mutex.
    [[nodiscard]] std::optional<std::vector<std::string>> wantedNow();

    std::string interfaceName;
    const std::atomic<bool>& stop;
    UdpSocket socket;
    std::mutex mutex;
    std::condition_variable changed;
    std::multiset<std::string> waiting;                       // under mutex
    std::map<std::string, std::vector<FoundProjector>> found; // under mutex, by wanted
    std::map<Ipv4Address, std::string> playing;               // under mutex
    std::set<std::string> toldSame;                           // under mutex
    struct Heard {
        std::string label;
        std::chrono::steady_clock::time_point at;
    };
    std::map<Ipv4Address, Heard> heardFrom; // under mutex, by source
    std::atomic<bool> ending{false};
    std::thread thread;
};

} // namespace lumarok
