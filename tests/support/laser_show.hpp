#pragma once

#include "support/lumarok_process.hpp"
#include "support/netns.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace lumarok::test {

// One "progress SECONDS packets frames samples underruns overflows" line of the
// virtual projector.
struct CubeProgress {
    double seconds = 0.0;
    long long packets = 0;
    long long frames = 0;
    long long samples = 0;
    long long underruns = 0;
    long long overflows = 0;
};

std::vector<CubeProgress> progressLines(const std::string& cubeOutput);
// Samples a second a virtual device took from its first fed progress line to its last;
// 0 when it was never fed.
double fedRate(const std::string& deviceOutput);
// The last progress line at or before `seconds` after the projector started.
CubeProgress progressAt(const std::vector<CubeProgress>& lines, double seconds);
// The value of a final "name N" count line of the projector, or -1.
long long cubeCount(const std::string& cubeOutput, const std::string& name);
// One line of the virtual projector's --frame-log: a frame's first packet.
struct CubeFrame {
    double arrival = 0.0; // steady-clock seconds (kernel receive time)
    std::size_t samples = 0;
    std::uint64_t signature = 0; // of the frame's lit samples
    double played = 0.0;         // steady-clock seconds its first sample plays
    long firstLit = -1;          // index of its first lit sample; -1: none
    unsigned litX = 0;           // that sample's position
    unsigned litY = 0;
};
std::vector<CubeFrame> readFrameLog(const std::string& path);
// Now on the clock of the frame log's arrival times.
double steadySeconds();

// The value at fraction `p` (0..1) of the sorted values, nearest rank; 0 when empty.
double percentile(std::vector<double> values, double p);

// Underruns a test tolerates. The virtual projector is an ordinary process: one
// scheduling hiccup of its own longer than the 50 ms reserve counts an underrun the
// player did not cause, so two are tolerated on a machine with a core to spare, and
// a few more when the one-minute load is above the number of cores (said on
// standard output). Lit starvation per underrun is bounded by the tests themselves.
long long underrunAllowance();

// The resident set of a process in KiB, or -1 when it cannot be read.
long residentKib(pid_t pid);

// An OSC message to /Time with one float argument.
std::vector<std::uint8_t> oscTime(float seconds);

// A UDP socket for sending from whatever namespace the calling thread is in.
class UdpSender {
public:
    UdpSender();
    // Bound to `address`, port chosen by the system.
    explicit UdpSender(const char* address);
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;
    void send(const char* address, std::uint16_t port,
              const std::vector<std::uint8_t>& bytes) const;
    // One datagram that came to this socket, waiting at most `timeout`; empty if none.
    [[nodiscard]] std::vector<std::uint8_t> receive(std::chrono::milliseconds timeout) const;

private:
    int fd;
};

// Runs `work(stop)` on a thread that has entered `netns` (and proved it) until the
// owner stops it; `finish` rethrows what the work threw.
class NetnsWorker {
public:
    NetnsWorker(const std::string& netns, std::function<void(const std::atomic<bool>&)> work);
    ~NetnsWorker();
    NetnsWorker(const NetnsWorker&) = delete;
    NetnsWorker& operator=(const NetnsWorker&) = delete;
    void finish();

private:
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::thread thread;
};

// The player in laser mode in one namespace against the virtual projector in the
// other. Both programs are ended (SIGTERM, then SIGKILL) and both namespaces are
// removed when the rig goes.
class LaserShowRig {
public:
    // Null when the machine refuses network namespaces.
    static std::unique_ptr<LaserShowRig> make();

    const NetnsPair& netns() const { return *pair; }
    std::string file(const std::string& name) const { return (dir.path() / name).string(); }

    // Starts the projector with --progress and `extra`; waits until it listens.
    void startCube(const std::vector<std::string>& extra);
    // Starts the player with `arguments` in `workingDirectory` (the source tree
    // by default, for its data/); `program` (with its own first arguments) instead of
    // the player, when given.
    void startPlayer(const std::vector<std::string>& arguments,
                     const std::string& workingDirectory = {},
                     const std::vector<std::string>& program = {});
    // True once the player has printed its discovery line.
    bool waitForDiscovery(std::chrono::milliseconds timeout) const;
    NetnsProcess& player() { return *playerProcess; }
    NetnsProcess& cube() { return *cubeProcess; }
    // Ends the player with SIGTERM; its exit status, or -1.
    int stopPlayer(std::chrono::milliseconds timeout);
    // Ends the projector with SIGTERM and returns its whole output.
    std::string stopCube();
    std::string cubeOutput() const { return readFile(file("cube.out")); }
    std::string playerOutput() const { return readFile(file("player.out")); }
    std::string playerErrors() const { return readFile(file("player.err")); }
    // Seconds since the projector started.
    double cubeSeconds() const;

private:
    explicit LaserShowRig(std::unique_ptr<NetnsPair> made);

    std::unique_ptr<NetnsPair> pair;
    TempDir dir;
    std::chrono::steady_clock::time_point cubeStart;
    // Declared last: ended before the namespaces go.
    std::optional<NetnsProcess> cubeProcess;
    std::optional<NetnsProcess> playerProcess;
};

// Waits until the virtual device's clock has gone on by `seconds`.
void playFor(const LaserShowRig& rig, double seconds);

} // namespace lumarok::test
