// Reports the processor time the audio capture thread uses while it records,
// either from the user's own audio server or from a private one playing a tone.
//
// usage: lumarok_audio_cpu [--seconds N] [--source NAME] [--private-server]

#include "audio/audio_capture.hpp"

#include "support/pulse_server.hpp"

#include <dirent.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The capture thread names itself; find its kernel thread id among ours.
std::optional<pid_t> findCaptureThread() {
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return std::nullopt;
    }
    std::optional<pid_t> found;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == lumarok::AudioCapture::kThreadName) {
            found = static_cast<pid_t>(std::stol(entry->d_name));
        }
    }
    closedir(tasks);
    return found;
}

// The kernel's per-thread CPU clock for a thread id of this process
// (the encoding the C library uses for pthread_getcpuclockid).
std::chrono::nanoseconds threadCpuTime(pid_t tid) {
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u);
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0) {
        return std::chrono::nanoseconds(-1);
    }
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

int run(int argc, char** argv) {
    int seconds = 10;
    std::string source;
    bool privateServer = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::stoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--source") == 0 && i + 1 < argc) {
            source = argv[++i];
        } else if (std::strcmp(argv[i], "--private-server") == 0) {
            privateServer = true;
        } else {
            std::fputs(
                "usage: lumarok_audio_cpu [--seconds N] [--source NAME] [--private-server]\n",
                stderr);
            return 2;
        }
    }

    std::unique_ptr<lumarok::test::PrivatePulseServer> server;
    std::unique_ptr<lumarok::test::ChildProcess> player;
    if (privateServer) {
        server = std::make_unique<lumarok::test::PrivatePulseServer>();
        const std::string tone = server->scratchDir() + "/tone.wav";
        lumarok::test::writeToneWav(tone, seconds + 5.0, 440.0, 0.5f, 0.5f);
        player = std::make_unique<lumarok::test::ChildProcess>(
            lumarok::test::ChildOptions{{"paplay", tone}, {}, {}, {}, -1});
    }

    lumarok::AudioCapture capture(source);
    const auto firstDeadline = std::chrono::steady_clock::now() + 15s;
    while (capture.copySamples().empty()) {
        if (std::chrono::steady_clock::now() > firstDeadline) {
            std::fputs("lumarok_audio_cpu: no audio arrived within 15 s\n", stderr);
            return 1;
        }
        std::this_thread::sleep_for(5ms);
    }
    const auto tid = findCaptureThread();
    if (!tid) {
        std::fputs("lumarok_audio_cpu: the capture thread has ended\n", stderr);
        return 1;
    }

    const auto cpuBefore = threadCpuTime(*tid);
    const auto wallBefore = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const auto cpuAfter = threadCpuTime(*tid);
    const auto wall = std::chrono::steady_clock::now() - wallBefore;
    if (cpuBefore.count() < 0 || cpuAfter.count() < 0) {
        std::fputs("lumarok_audio_cpu: cannot read the capture thread's clock\n", stderr);
        return 1;
    }
    const double cpuMs = std::chrono::duration<double, std::milli>(cpuAfter - cpuBefore).count();
    const double wallMs = std::chrono::duration<double, std::milli>(wall).count();
    std::printf("capture thread: %.1f ms of CPU in %.1f s = %.3f %% of one core (packet: %zu "
                "frames)\n",
                cpuMs, wallMs / 1000.0, 100.0 * cpuMs / wallMs, capture.copySamples().size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumarok_audio_cpu: %s\n", e.what());
        return 1;
    }
}
