#include "support/pulse_server.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace lumarok::test {
namespace {

void writeLittleEndian(std::ofstream& out, std::uint32_t value, int byteCount) {
    for (int i = 0; i < byteCount; ++i) {
        out.put(static_cast<char>((value >> (8 * i)) & 0xffu));
    }
}

} // namespace

static int runProgram(const std::vector<std::string>& argv) {
    return runToEnd(ChildOptions{argv, {}, {}, {}, -1}, std::chrono::seconds(10));
}

PrivatePulseServer::PrivatePulseServer() {
    char pattern[] = "/tmp/lumarok-pulse-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    rootDir = pattern;
    if (const char* previous = std::getenv("PULSE_SERVER")) {
        savedPulseServer = previous;
    }
    try {
        for (const char* sub : {"/runtime", "/home", "/scratch"}) {
            std::filesystem::create_directory(rootDir + sub);
            std::filesystem::permissions(rootDir + sub, std::filesystem::perms::owner_all);
        }
        startDaemon();
    } catch (...) {
        shutDown();
        throw;
    }
}

void PrivatePulseServer::startDaemon() {
    const std::string sink = std::string("module-null-sink sink_name=") + kSinkName +
                             " rate=48000 channels=2 format=float32le";
    ChildOptions options;
    options.argv = {"pulseaudio",
                    "--daemonize=no",
                    "-n",
                    "--exit-idle-time=-1",
                    "--disallow-exit",
                    "--load=" + sink,
                    "--load=module-native-protocol-unix auth-anonymous=1"};
    options.setEnv = {{"XDG_RUNTIME_DIR", rootDir + "/runtime"}, {"HOME", rootDir + "/home"}};
    daemon.emplace(options);

    const std::string address = "unix:" + rootDir + "/runtime/pulse/native";
    setenv("PULSE_SERVER", address.c_str(), 1);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (;;) {
        if (daemon->waitFor(std::chrono::milliseconds(0))) {
            throw PulseServerUnavailable("the audio server would not start here: " +
                                         daemon->stderrText());
        }
        if (runProgram({"pactl", "info"}) == 0) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw PulseServerUnavailable("the audio server did not answer within 15 s: " +
                                         daemon->stderrText());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (runProgram({"pactl", "set-default-sink", kSinkName}) != 0) {
        throw std::runtime_error("pactl set-default-sink failed");
    }
}

void PrivatePulseServer::restart() {
    startDaemon();
}

PrivatePulseServer::~PrivatePulseServer() {
    shutDown();
}

void PrivatePulseServer::shutDown() {
    if (daemon) {
        daemon->signal(SIGCONT);
        daemon->signal(SIGTERM);
        if (!daemon->waitFor(std::chrono::seconds(5))) {
            daemon->signal(SIGKILL);
        }
        daemon.reset();
    }
    if (savedPulseServer) {
        setenv("PULSE_SERVER", savedPulseServer->c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
    savedPulseServer.reset();
    std::error_code ignored; // a leftover temp dir is not worth failing a test over
    std::filesystem::remove_all(rootDir, ignored);
    rootDir.clear();
}

void PrivatePulseServer::kill() {
    daemon->signal(SIGKILL);
    daemon->waitFor(std::chrono::seconds(5));
}

namespace {

void writeStereoWav(const std::string& path, double seconds,
                    const std::function<std::pair<float, float>(std::uint32_t)>& frameAt) {
    constexpr std::uint32_t kRate = 48000;
    constexpr std::uint32_t kChannels = 2;
    constexpr std::uint32_t kBytesPerFrame = kChannels * 4;
    const auto frameCount = static_cast<std::uint32_t>(seconds * kRate);
    const std::uint32_t dataBytes = frameCount * kBytesPerFrame;

    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    writeLittleEndian(out, 36 + dataBytes, 4);
    out.write("WAVEfmt ", 8);
    writeLittleEndian(out, 16, 4);
    writeLittleEndian(out, 3, 2); // IEEE float samples
    writeLittleEndian(out, kChannels, 2);
    writeLittleEndian(out, kRate, 4);
    writeLittleEndian(out, kRate * kBytesPerFrame, 4);
    writeLittleEndian(out, kBytesPerFrame, 2);
    writeLittleEndian(out, 32, 2);
    out.write("data", 4);
    writeLittleEndian(out, dataBytes, 4);
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        const std::pair<float, float> frame = frameAt(i);
        for (const float sample : {frame.first, frame.second}) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &sample, sizeof bits);
            writeLittleEndian(out, bits, 4);
        }
    }
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

} // namespace

void writeToneWav(const std::string& path, double seconds, double frequencyHz, float leftAmplitude,
                  float rightAmplitude) {
    writeStereoWav(path, seconds, [&](std::uint32_t i) {
        const double phase = 2.0 * M_PI * frequencyHz * i / 48000.0;
        const float wave = static_cast<float>(std::sin(phase));
        return std::pair(leftAmplitude * wave, rightAmplitude * wave);
    });
}

} // namespace lumarok::test
