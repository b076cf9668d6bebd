#include "support/pulse_server.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string current(*entry);
        const std::string name = current.substr(0, current.find('='));
        bool replaced = false;
        for (const auto& override : overrides) {
            replaced = replaced || override.substr(0, override.find('=')) == name;
        }
        if (!replaced) {
            merged.push_back(current);
        }
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

std::vector<char*> cStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeLittleEndian(std::ofstream& out, std::uint32_t value, int byteCount) {
    for (int i = 0; i < byteCount; ++i) {
        out.put(static_cast<char>((value >> (8 * i)) & 0xffu));
    }
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env, const std::string& outputPath) {
    std::vector<std::string> args = argv;
    std::vector<std::string> environment = mergedEnvironment(env);
    auto argPointers = cStrings(args);
    auto envPointers = cStrings(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const char* output = outputPath.empty() ? "/dev/null" : outputPath.c_str();
    posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int error = posix_spawnp(&processId, argPointers[0], &actions, nullptr,
                                   argPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::system_error(error, std::generic_category(), "cannot start " + argv.at(0));
    }
}

ChildProcess::~ChildProcess() {
    if (!reaped) {
        ::kill(processId, SIGKILL);
        ::kill(processId, SIGCONT);
        waitpid(processId, nullptr, 0);
    }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (reaped) {
            return exitStatus;
        }
        int status = 0;
        if (waitpid(processId, &status, WNOHANG) == processId) {
            reaped = true;
            exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ChildProcess::signal(int signalNumber) const {
    if (!reaped) {
        ::kill(processId, signalNumber);
    }
}

int runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    ChildProcess child(argv);
    return child.wait(timeout).value_or(-1);
}

PrivatePulseServer::PrivatePulseServer() {
    char pattern[] = "/tmp/lumarok-pulse-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    rootDir = pattern;
    try {
        for (const char* sub : {"/runtime", "/home", "/scratch"}) {
            std::filesystem::create_directory(rootDir + sub);
            std::filesystem::permissions(rootDir + sub, std::filesystem::perms::owner_all);
        }
        const std::string log = rootDir + "/scratch/daemon.log";
        const std::string sink = std::string("module-null-sink sink_name=") + kSinkName +
                                 " rate=48000 channels=2 format=float32le";
        daemon.emplace(
            std::vector<std::string>{"pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
                                     "--disallow-exit", "--load=" + sink,
                                     "--load=module-native-protocol-unix auth-anonymous=1"},
            std::vector<std::string>{"XDG_RUNTIME_DIR=" + rootDir + "/runtime",
                                     "HOME=" + rootDir + "/home"},
            log);

        const std::string address = "unix:" + rootDir + "/runtime/pulse/native";
        if (const char* previous = std::getenv("PULSE_SERVER")) {
            savedPulseServer = previous;
        }
        setenv("PULSE_SERVER", address.c_str(), 1);

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        for (;;) {
            if (daemon->wait(std::chrono::milliseconds(0))) {
                throw PulseServerUnavailable("the audio server would not start here: " +
                                             readFile(log));
            }
            if (runProgram({"pactl", "info"}) == 0) {
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                throw PulseServerUnavailable("the audio server did not answer within 15 s: " +
                                             readFile(log));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (runProgram({"pactl", "set-default-sink", kSinkName}) != 0) {
            throw std::runtime_error("pactl set-default-sink failed");
        }
    } catch (...) {
        shutDown();
        throw;
    }
}

PrivatePulseServer::~PrivatePulseServer() {
    shutDown();
}

void PrivatePulseServer::shutDown() {
    if (daemon) {
        daemon->signal(SIGCONT);
        daemon->signal(SIGTERM);
        if (!daemon->wait(std::chrono::seconds(5))) {
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
    daemon->wait(std::chrono::seconds(5));
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

void writeLevelWav(const std::string& path, double seconds, float left, float right) {
    writeStereoWav(path, seconds, [&](std::uint32_t) { return std::pair(left, right); });
}

} // namespace lumarok::test
