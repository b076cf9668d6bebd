// lumarok-laser-measure: plays the show in laser mode against lumarok-cube, each in a
// network namespace made for the run, and prints a table of what a show would feel:
// CPU of the player, underruns, how long an OSC /Time takes to reach the light, and how
// soon a SIGTERM switches the projector off, and the samples and frames a second it received.
#include "../lumarok_cube/frame_signature.hpp"
#include "net/udp_socket.hpp"
#include "support/laser_show.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using lumarok::test::cpuSeconds;
using lumarok::test::cubeCount;
using lumarok::test::NetnsPair;
using lumarok::test::NetnsProcess;
using lumarok::test::oscTime;
using lumarok::test::percentile;
using lumarok::test::readFile;
using lumarok::test::readFrameLog;
using lumarok::test::steadySeconds;
using Clock = std::chrono::steady_clock;

std::uint64_t renderedSignature(const std::string& path) {
    std::ifstream in(path);
    const nlohmann::json document = nlohmann::json::parse(in);
    std::vector<lumarok::LaserSample> samples;
    for (const nlohmann::json& s : document.at("samples")) {
        samples.push_back({s.at("x").get<std::uint16_t>(), s.at("y").get<std::uint16_t>(),
                           s.at("r").get<std::uint16_t>(), s.at("g").get<std::uint16_t>(),
                           s.at("b").get<std::uint16_t>()});
    }
    return lumarok::cube::litSignature(samples);
}

int measure(double seconds) {
    const NetnsPair pair;
    const std::string dir =
        std::filesystem::temp_directory_path() / ("lrk_measure_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string lumarok = lumarok::test::programPath("lumarok");
    const std::array<float, 2> times{3.0f, 5.0f};
    std::array<std::uint64_t, 2> signatures{};
    for (std::size_t i = 0; i < times.size(); ++i) {
        const std::string out = dir + "/render" + std::to_string(i) + ".json";
        NetnsProcess render(pair.player(),
                            {lumarok, "--render", std::to_string(times[i]), "--out", out},
                            dir + "/render.out", dir + "/render.err", lumarok::test::sourceDir());
        if (render.wait(120s) != 0) {
            throw std::runtime_error("render failed: " + readFile(dir + "/render.err"));
        }
        signatures[i] = renderedSignature(out);
    }
    if (signatures[0] == signatures[1]) {
        throw std::runtime_error("the two show times draw the same frame");
    }

    NetnsProcess cube(pair.device(),
                      {lumarok::test::programPath("tools/lumarok_cube/lumarok-cube"), "--seconds",
                       std::to_string(seconds + 120), "--frame-log", dir + "/frames.log"},
                      dir + "/cube.out", dir + "/cube.err");
    if (!lumarok::test::waitForText(dir + "/cube.out", "listening", 10s)) {
        throw std::runtime_error("the virtual projector did not start");
    }
    NetnsProcess show(pair.player(), {lumarok, "-laser", "-osc"}, dir + "/show.out",
                      dir + "/show.err", lumarok::test::sourceDir());

    std::vector<std::pair<double, std::size_t>> sent; // monotonic time, index into times
    double cpu = 0.0;
    double wall = 0.0;
    double measuredFrom = 0.0; // steady seconds, as the projector's frame log counts
    lumarok::test::runInNetns(pair.player(), [&] {
        lumarok::UdpSocket socket(0);
        auto send = [&](std::size_t which) {
            const std::vector<std::uint8_t> message = oscTime(times[which]);
            try {
                socket.sendTo({lumarok::kLoopbackAddress, 8666}, std::as_bytes(std::span(message)));
            } catch (const std::system_error&) {
                // Not listening yet: the next one is sent 100 ms later.
            }
        };
        const auto discoveryDeadline = Clock::now() + 120s;
        while (readFile(dir + "/show.out").find("Found") == std::string::npos) {
            if (Clock::now() > discoveryDeadline) {
                throw std::runtime_error("the show did not find the projector: " +
                                         readFile(dir + "/show.err"));
            }
            send(0);
            std::this_thread::sleep_for(100ms);
        }
        std::this_thread::sleep_for(2s); // past start-up
        const double cpuStart = cpuSeconds(show.pid());
        const Clock::time_point start = Clock::now();
        measuredFrom = steadySeconds();
        std::size_t which = 0;
        while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
            which = 1 - which;
            sent.emplace_back(steadySeconds(), which);
            send(which);
            std::this_thread::sleep_for(1s);
        }
        wall = std::chrono::duration<double>(Clock::now() - start).count();
        cpu = cpuSeconds(show.pid()) - cpuStart;
    });
    const double stopAt = steadySeconds();
    show.signal(SIGTERM);
    show.wait(10s);
    cube.signal(SIGTERM);
    cube.wait(10s);

    const std::vector<lumarok::test::CubeFrame> frames = readFrameLog(dir + "/frames.log");
    // What the projector received while measured: samples and frames a second (the tests
    // check only that it was neither starved nor flooded).
    std::size_t samplesReceived = 0;
    std::size_t framesReceived = 0;
    for (const lumarok::test::CubeFrame& frame : frames) {
        if (frame.arrival >= measuredFrom && frame.arrival < measuredFrom + wall) {
            samplesReceived += frame.samples;
            ++framesReceived;
        }
    }
    std::vector<double> delays;
    for (const auto& entry : sent) {
        // Named copies, not a structured binding: clang 14 cannot capture those.
        const auto when = entry.first;
        const auto which = entry.second;
        const auto hit = std::find_if(frames.begin(), frames.end(), [&](const auto& frame) {
            return frame.arrival >= when && frame.signature == signatures[which];
        });
        if (hit != frames.end() && hit->arrival - when < 1.0) {
            delays.push_back((hit->arrival - when) * 1000.0);
        }
    }
    const std::string counts = "\n" + readFile(dir + "/cube.out");
    // The cube notes when the switch-off command came, on the same steady clock.
    const double offMs =
        static_cast<double>(cubeCount(counts, "switched_off_at_us")) * 1e-3 - stopAt * 1e3;
    std::filesystem::remove_all(dir);

    std::printf("| measure                                   | value |\n");
    std::printf("|-------------------------------------------|-------|\n");
    std::printf("| seconds measured                          | %.1f |\n", wall);
    std::printf("| CPU of the player, %% of one core          | %.2f |\n", 100.0 * cpu / wall);
    std::printf("| underruns                                 | %lld |\n",
                cubeCount(counts, "underruns"));
    std::printf("| overflows                                 | %lld |\n",
                cubeCount(counts, "overflows"));
    std::printf("| frames at the projector                   | %lld |\n",
                cubeCount(counts, "frames"));
    std::printf("| samples/s at the projector (30,000 asked) | %.0f |\n",
                static_cast<double>(samplesReceived) / wall);
    std::printf("| frames/s at the projector                 | %.1f |\n",
                static_cast<double>(framesReceived) / wall);
    std::printf("| OSC /Time changes sent / seen             | %zu / %zu |\n", sent.size(),
                delays.size());
    std::printf("| OSC to first packet, median ms            | %.1f |\n", percentile(delays, 0.5));
    std::printf("| OSC to first packet, 95th percentile ms   | %.1f |\n", percentile(delays, 0.95));
    std::printf("| OSC to first packet, max ms               | %.1f |\n", percentile(delays, 1.0));
    std::printf("| SIGTERM to switch-off command, ms         | %.1f |\n", offMs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 60.0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--seconds") {
            seconds = std::stod(argv[i + 1]);
        }
    }
    try {
        return measure(seconds);
    } catch (const lumarok::test::NetnsUnavailable& error) {
        std::fprintf(stderr, "lumarok-laser-measure: %s\n", error.what());
        return 77;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok-laser-measure: %s\n", error.what());
        return 1;
    }
}
