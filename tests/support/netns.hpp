#pragma once

#include "support/paths.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lumarok::test {

// Thrown when the machine does not let us make network namespaces; tests skip.
class NetnsUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Two network namespaces made for one test and joined by a veth pair: the player
// side at 10.213.0.1/24 with its default route through the link (so a broadcast to
// 255.255.255.255 crosses it), the device side at 10.213.0.2/24. Both have loopback
// up. The destructor removes both, whatever happened in between.
class NetnsPair {
public:
    static constexpr const char* kPlayerAddress = "10.213.0.1";
    static constexpr const char* kDeviceAddress = "10.213.0.2";

    NetnsPair();
    ~NetnsPair();
    NetnsPair(const NetnsPair&) = delete;
    NetnsPair& operator=(const NetnsPair&) = delete;

    const std::string& player() const { return playerName; }
    const std::string& device() const { return deviceName; }
    // Adds another address (CIDR) to the device side's veth end.
    void addDeviceAddress(const std::string& cidr) const;

private:
    std::string playerName;
    std::string deviceName;
};

// Namespaces (NetnsPair, NetnsStar) made for a test, or none where the machine refuses them.
template <typename Namespaces> std::unique_ptr<Namespaces> tryNetns() {
    try {
        return std::make_unique<Namespaces>();
    } catch (const NetnsUnavailable&) {
        return nullptr;
    }
}

// Skips the test when `made` (namespaces, or what holds them) is empty.
#define LUMAROK_SKIP_WITHOUT_NETNS(made)                                                           \
    if (!(made))                                                                                   \
    GTEST_SKIP() << "network namespaces cannot be created here ('ip netns add' refused)"

// A player namespace with two links, each to a device namespace of its own, and a
// third device namespace behind the second device namespace, which routes to it:
//   player lrka 10.213.0.1/26  -- device A lrk1 10.213.0.2/26
//   player lrkb 10.213.0.65/26 -- device B lrk1 10.213.0.66/26 (forwards)
//   device B lrk2 10.213.0.129/26 -- routed lrk1 10.213.0.130/26
// The player has no default route: a broadcast reaches a link only when sent out
// through it. The destructor removes all four namespaces.
class NetnsStar {
public:
    static constexpr const char* kDeviceA = "10.213.0.2";
    static constexpr const char* kDeviceB = "10.213.0.66";
    static constexpr const char* kRouted = "10.213.0.130";

    NetnsStar();
    ~NetnsStar();
    NetnsStar(const NetnsStar&) = delete;
    NetnsStar& operator=(const NetnsStar&) = delete;

    const std::string& player() const { return names[0]; }
    const std::string& deviceA() const { return names[1]; }
    const std::string& deviceB() const { return names[2]; }
    const std::string& routed() const { return names[3]; }

private:
    std::vector<std::string> names;
};

// A program started inside a namespace through `ip netns exec`, behind a shell that
// first proves with `ip netns identify` that it is in that namespace and refuses
// otherwise. Output goes to files. The destructor ends it (SIGTERM, then SIGKILL).
class NetnsProcess {
public:
    NetnsProcess(const std::string& netns, const std::vector<std::string>& argv,
                 const std::string& stdoutPath, const std::string& stderrPath,
                 const std::string& workingDirectory = {});
    ~NetnsProcess();
    NetnsProcess(const NetnsProcess&) = delete;
    NetnsProcess& operator=(const NetnsProcess&) = delete;

    void signal(int number) const;
    // Exit code, 128 + signal when killed, or -1 when still running after `timeout`.
    int wait(std::chrono::milliseconds timeout);
    pid_t pid() const { return child; }

private:
    pid_t child = -1;
    bool reaped = false;
    int status = 0;
};

// Runs `work` on a thread that has entered `netns` and proved it; rethrows its errors.
void runInNetns(const std::string& netns, const std::function<void()>& work);

// Waits until `path` contains `text`; false after `timeout`.
bool waitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds timeout);

} // namespace lumarok::test
