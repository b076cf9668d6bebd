// lumarok-beat-offset: how far from the beat the light lands. Plays the show through
// lumarok-beat-probe (the player, its frames carrying the show time they were drawn for)
// on one or two virtual projectors, each run in network namespaces made for it, and
// prints a table: for each clock (steady, OSC /Time sent 30 and 10 times a second along
// a steady timeline) and each number of projectors, without and with --on-beat, the
// offset between the moment a frame's first sample is played (as the projector reckons
// it: arrival plus what its buffer held, at its rate) and the moment the timeline stood
// at the show time the frame depicts: median and worst, in milliseconds. Positive: the
// light comes late. For the steady clock the timeline is the player's own clock, its
// zero as the probe reports it. Each projector's own median goes to stderr; with
// LRK_BEAT_TRACE set, every frame too (projector, seconds, show time, offset ms, lead, size).
#include "support/laser_show.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using lumarok::test::NetnsPair;
using lumarok::test::NetnsProcess;
using lumarok::test::percentile;
using lumarok::test::readFile;
using lumarok::test::steadySeconds;

struct Setup {
    int oscRate = 0; // /Time messages a second; 0: the steady clock
    int projectors = 1;
    bool onBeat = false;
    double latencyMs = 0.0;
    int sampleRate = 30000;
    int bufferSize = 6000;
};

struct Result {
    std::vector<double> offsets; // ms, every frame of every projector
    long long underruns = 0;
};

// The clock time /Time says at steady second s: kTimelineStart at the timeline's start.
constexpr double kTimelineStart = 5.0;
// Show time is clock time up to here in the demo (its remap table's second point).
constexpr double kIdentityUntil = 60.0;

std::string clockName(int oscRate) {
    return oscRate == 0 ? "steady" : "/Time " + std::to_string(oscRate) + "/s";
}

Result measure(const Setup& setup, double seconds) {
    const NetnsPair pair;
    const std::string dir =
        std::filesystem::temp_directory_path() / ("lrk_beat_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<std::unique_ptr<NetnsProcess>> cubes;
    std::vector<std::string> player{
        "env", "PULSE_SERVER=unix:/nonexistent/lumarok-no-audio",
        lumarok::test::programPath("tools/beat_offset/lumarok-beat-probe"), "-laser", "-q"};
    for (int i = 0; i < setup.projectors; ++i) {
        const std::string address = "10.213.0." + std::to_string(2 + i);
        if (i > 0) {
            pair.addDeviceAddress(address + "/24");
        }
        const std::string base = dir + "/cube" + std::to_string(i);
        cubes.push_back(std::make_unique<NetnsProcess>(
            pair.device(),
            std::vector<std::string>{lumarok::test::programPath("tools/lumarok_cube/lumarok-cube"),
                                     "--name", "cube" + std::to_string(i), "--address", address,
                                     "--sample-rate", std::to_string(setup.sampleRate),
                                     "--buffer-size", std::to_string(setup.bufferSize),
                                     "--frame-log", base + ".log"},
            base + ".out", base + ".err"));
        if (!lumarok::test::waitForText(base + ".out", "listening", 10s)) {
            throw std::runtime_error("a virtual projector did not start: " +
                                     readFile(base + ".err"));
        }
        player.insert(player.end(), {"--projector", address});
    }
    if (setup.oscRate > 0) {
        player.push_back("-osc");
    }
    if (setup.onBeat) {
        player.push_back("--on-beat");
        if (setup.latencyMs != 0.0) {
            player.insert(player.end(), {"--latency", std::to_string(setup.latencyMs)});
        }
    }
    // The /Time timeline: clock time kTimelineStart at steady second `origin`.
    const double origin = steadySeconds();
    std::atomic<bool> stopSending{false};
    std::optional<lumarok::test::NetnsWorker> sender;
    if (setup.oscRate > 0) {
        sender.emplace(pair.player(), [&](const std::atomic<bool>& stop) {
            const lumarok::test::UdpSender socket;
            const auto period = std::chrono::duration<double>(1.0 / setup.oscRate);
            auto next = std::chrono::steady_clock::now();
            while (!stop.load() && !stopSending.load()) {
                const auto at = steadySeconds();
                socket.send(
                    "127.0.0.1", 8666,
                    lumarok::test::oscTime(static_cast<float>(kTimelineStart + at - origin)));
                next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
                std::this_thread::sleep_until(next);
            }
        });
    }
    NetnsProcess show(pair.player(), player, dir + "/show.out", dir + "/show.err",
                      lumarok::test::sourceDir());
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (;;) {
        const std::string out = readFile(dir + "/show.out");
        std::size_t found = 0;
        for (std::size_t at = out.find("Found"); at != std::string::npos;
             at = out.find("Found", at + 1)) {
            ++found;
        }
        if (static_cast<int>(found) >= setup.projectors) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("not every projector was found: " +
                                     readFile(dir + "/show.err"));
        }
        std::this_thread::sleep_for(100ms);
    }
    std::this_thread::sleep_for(2s); // past start-up
    const double from = steadySeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double to = steadySeconds();
    show.signal(SIGTERM);
    show.wait(10s);
    stopSending.store(true);
    if (sender) {
        sender->finish();
    }
    double zero = origin - kTimelineStart; // the steady second of clock time 0
    if (setup.oscRate == 0) {
        const std::string out = readFile(dir + "/show.out");
        const std::size_t at = out.find("zero ");
        if (at == std::string::npos) {
            throw std::runtime_error("the probe did not tell its clock's zero");
        }
        zero = std::stod(out.substr(at + 5));
    }
    Result result;
    for (int i = 0; i < setup.projectors; ++i) {
        cubes[static_cast<std::size_t>(i)]->signal(SIGTERM);
        cubes[static_cast<std::size_t>(i)]->wait(10s);
        const std::string base = dir + "/cube" + std::to_string(i);
        result.underruns += lumarok::test::cubeCount(readFile(base + ".out"), "underruns");
        const std::size_t before = result.offsets.size();
        for (const lumarok::test::CubeFrame& frame : lumarok::test::readFrameLog(base + ".log")) {
            const double depicted = static_cast<double>(frame.litX + 4096u * frame.litY) / 1e4;
            // The demo's remap table bends the clock from 60 s on: the show time drawn is the
            // clock's only below it.
            if (frame.arrival < from || frame.arrival > to || frame.firstLit < 0 ||
                depicted >= kIdentityUntil) {
                continue;
            }
            const double played =
                frame.played + static_cast<double>(frame.firstLit) / setup.sampleRate;
            result.offsets.push_back((played - (zero + depicted)) * 1000.0);
            if (std::getenv("LRK_BEAT_TRACE") != nullptr) {
                std::fprintf(stderr, "trace %d %.4f %.4f %.2f %ld %zu\n", i, frame.arrival - from,
                             depicted, result.offsets.back(), frame.firstLit, frame.samples);
            }
        }
        // Each projector's own median, on stderr: two out of step show here.
        const std::vector<double> own(result.offsets.begin() + static_cast<std::ptrdiff_t>(before),
                                      result.offsets.end());
        std::fprintf(stderr, "%s, projector %d: %zu frames, median %.1f ms\n",
                     clockName(setup.oscRate).c_str(), i + 1, own.size(), percentile(own, 0.5));
    }
    std::filesystem::remove_all(dir);
    return result;
}

void printRow(const Setup& setup, const Result& result) {
    const double median = percentile(result.offsets, 0.5);
    double worst = 0.0;  // the largest offset from the beat
    double spread = 0.0; // the largest offset from the median
    std::vector<double> sizes;
    for (const double offset : result.offsets) {
        worst = std::abs(offset) > std::abs(worst) ? offset : worst;
        spread = std::max(spread, std::abs(offset - median));
        sizes.push_back(std::abs(offset));
    }
    std::string player = setup.onBeat ? "--on-beat" : "before";
    if (setup.onBeat && setup.latencyMs != 0.0) {
        player += " --latency " + std::to_string(static_cast<int>(setup.latencyMs));
    }
    std::printf("| %s | %d | %d / %d | %s | %zu | %.1f | %.1f | %.1f | %.1f | %lld |\n",
                clockName(setup.oscRate).c_str(), setup.projectors, setup.sampleRate,
                setup.bufferSize, player.c_str(), result.offsets.size(), median,
                percentile(sizes, 0.95), worst, spread, result.underruns);
    std::fflush(stdout);
}

std::vector<int> numbers(const std::string& list) {
    std::vector<int> values;
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ',');) {
        values.push_back(std::stoi(item));
    }
    return values;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 20.0;
    std::vector<int> clocks{0, 30, 10};
    std::vector<int> projectorCounts{1, 2};
    std::vector<int> modes{0, 1}; // 0: before, 1: --on-beat
    Setup base;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--seconds") {
            seconds = std::stod(value);
        } else if (option == "--clocks") { // 0 for steady, else /Time messages a second
            clocks = numbers(value);
        } else if (option == "--projectors") {
            projectorCounts = numbers(value);
        } else if (option == "--modes") { // 0 before, 1 --on-beat
            modes = numbers(value);
        } else if (option == "--latency") {
            base.latencyMs = std::stod(value);
        } else if (option == "--sample-rate") {
            base.sampleRate = std::stoi(value);
        } else if (option == "--buffer-size") {
            base.bufferSize = std::stoi(value);
        } else {
            std::fprintf(stderr, "lumarok-beat-offset: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    try {
        std::printf("| clock | projectors | samples/s / buffer | player | frames | offset median "
                    "ms | 95 %% within ms | worst ms | worst from median ms | underruns |\n");
        std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
        for (const int clock : clocks) {
            for (const int count : projectorCounts) {
                for (const int mode : modes) {
                    Setup setup = base;
                    setup.oscRate = clock;
                    setup.projectors = count;
                    setup.onBeat = mode != 0;
                    printRow(setup, measure(setup, seconds));
                }
            }
        }
        return 0;
    } catch (const lumarok::test::NetnsUnavailable& error) {
        std::fprintf(stderr, "lumarok-beat-offset: %s\n", error.what());
        return 77;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok-beat-offset: %s\n", error.what());
        return 1;
    }
}
