#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/child_process.hpp"

namespace lumarok::test {

// The machine would not let a private audio server run; the message says why.
struct PulseServerUnavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A private audio server for this process only: its own runtime and home
// directories, one null sink as the default output, anonymous access over a
// unix socket. While it lives, PULSE_SERVER points this process and its
// children at it; the destructor stops the server by its id and restores the
// variable.
class PrivatePulseServer {
public:
    static constexpr const char* kSinkName = "lumarok_test_sink";

    PrivatePulseServer();
    ~PrivatePulseServer();
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    pid_t pid() const { return daemon->pid(); }
    std::string monitorName() const { return std::string(kSinkName) + ".monitor"; }
    // A directory for the test's own files, removed with the server.
    std::string scratchDir() const { return rootDir + "/scratch"; }
    // Kills the server at once (SIGKILL) and reaps it.
    void kill();
    // Starts it again after kill(), on the same socket, and waits until it answers.
    void restart();

private:
    void startDaemon();
    void shutDown();

    std::string rootDir; // runtime/, home/ and scratch/ of this server
    std::optional<std::string> savedPulseServer;
    std::optional<ChildProcess> daemon;
};

// Writes a 48 kHz 32-bit float stereo WAV file holding a sine tone.
void writeToneWav(const std::string& path, double seconds, double frequencyHz, float leftAmplitude,
                  float rightAmplitude);

} // namespace lumarok::test
