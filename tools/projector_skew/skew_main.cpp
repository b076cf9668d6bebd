// lumarok-skew-measure: plays the show on 1, 2 and 4 virtual projectors side by side
// in a network namespace made for the run (the player in another) and prints a table:
// how far apart the first packets of the same frame reach the projectors, underruns
// on each, and the player's CPU share.
#include "support/laser_show.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using lumarok::test::cpuSeconds;
using lumarok::test::cubeCount;
using lumarok::test::NetnsPair;
using lumarok::test::NetnsProcess;
using lumarok::test::percentile;
using lumarok::test::readFile;

using Frame = lumarok::test::CubeFrame;

// The frames whose first packet arrived between `from` and `to`.
std::vector<Frame> frameLog(const std::string& path, double from, double to) {
    std::vector<Frame> frames = lumarok::test::readFrameLog(path);
    std::erase_if(frames, [&](const Frame& f) { return f.arrival < from || f.arrival > to; });
    return frames;
}

struct Row {
    int projectors = 0;
    std::size_t frames = 0; // frames of the first projector found on every other
    std::vector<double> skews;
    long long underruns = 0; // summed over the projectors
    long long worstUnderruns = 0;
    double cpuPercent = 0.0;
};

Row measure(int count, double seconds) {
    const NetnsPair pair;
    std::vector<std::string> addresses;
    for (int i = 0; i < count; ++i) {
        addresses.push_back("10.213.0." + std::to_string(2 + i));
        if (i > 0) {
            pair.addDeviceAddress(addresses.back() + "/24");
        }
    }
    const std::string dir =
        std::filesystem::temp_directory_path() / ("lrk_skew_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<std::unique_ptr<NetnsProcess>> cubes;
    std::vector<std::string> player{"env", "PULSE_SERVER=unix:/nonexistent/lumarok-no-audio",
                                    lumarok::test::programPath("lumarok"), "-laser"};
    for (int i = 0; i < count; ++i) {
        const std::string base = dir + "/cube" + std::to_string(i);
        cubes.push_back(std::make_unique<NetnsProcess>(
            pair.device(),
            std::vector<std::string>{lumarok::test::programPath("tools/lumarok_cube/lumarok-cube"),
                                     "--name", "cube" + std::to_string(i), "--address",
                                     addresses[static_cast<std::size_t>(i)], "--frame-log",
                                     base + ".log"},
            base + ".out", base + ".err"));
        if (!lumarok::test::waitForText(base + ".out", "listening", 10s)) {
            throw std::runtime_error("a virtual projector did not start: " +
                                     readFile(base + ".err"));
        }
        player.insert(player.end(), {"--projector", addresses[static_cast<std::size_t>(i)]});
    }
    NetnsProcess show(pair.player(), player, dir + "/show.out", dir + "/show.err",
                      lumarok::test::sourceDir());
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (;;) {
        const std::string out = readFile(dir + "/show.out");
        if (static_cast<int>(std::count(out.begin(), out.end(), '\n')) >= count) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("not every projector was found: " +
                                     readFile(dir + "/show.err"));
        }
        std::this_thread::sleep_for(100ms);
    }
    std::this_thread::sleep_for(2s); // past start-up
    const double from = lumarok::test::steadySeconds();
    const double cpuStart = cpuSeconds(show.pid());
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    Row row;
    row.projectors = count;
    const double to = lumarok::test::steadySeconds();
    row.cpuPercent = 100.0 * (cpuSeconds(show.pid()) - cpuStart) / (to - from);
    show.signal(SIGTERM);
    show.wait(10s);
    std::vector<std::vector<Frame>> logs;
    for (int i = 0; i < count; ++i) {
        cubes[static_cast<std::size_t>(i)]->signal(SIGTERM);
        cubes[static_cast<std::size_t>(i)]->wait(10s);
        const std::string base = dir + "/cube" + std::to_string(i);
        logs.push_back(frameLog(base + ".log", from, to));
        const long long underruns = cubeCount(readFile(base + ".out"), "underruns");
        row.underruns += underruns;
        row.worstUnderruns = std::max(row.worstUnderruns, underruns);
    }
    // The same frame: the same picture on the other link, the nearest in time.
    for (const Frame& first : logs[0]) {
        double earliest = first.arrival;
        double latest = first.arrival;
        bool everywhere = true;
        for (std::size_t i = 1; i < logs.size() && everywhere; ++i) {
            const Frame* nearest = nullptr;
            for (const Frame& f : logs[i]) {
                if (f.signature == first.signature &&
                    (nearest == nullptr || std::abs(f.arrival - first.arrival) <
                                               std::abs(nearest->arrival - first.arrival))) {
                    nearest = &f;
                }
            }
            everywhere = nearest != nullptr && std::abs(nearest->arrival - first.arrival) < 0.5;
            if (everywhere) {
                earliest = std::min(earliest, nearest->arrival);
                latest = std::max(latest, nearest->arrival);
            }
        }
        if (everywhere) {
            ++row.frames;
            row.skews.push_back((latest - earliest) * 1000.0);
        }
    }
    std::filesystem::remove_all(dir);
    return row;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 60.0;
    std::vector<int> counts{1, 2, 4};
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds") {
            seconds = std::stod(argv[i + 1]);
        } else if (option == "--projectors") {
            counts.clear();
            std::istringstream list(argv[i + 1]);
            for (std::string item; std::getline(list, item, ',');) {
                counts.push_back(std::stoi(item));
            }
        }
    }
    try {
        std::printf("| projectors | frames matched | skew median ms | skew 95%% ms | skew max ms "
                    "| underruns (all / worst) | player CPU %% of a core |\n");
        std::printf("|---|---|---|---|---|---|---|\n");
        for (const int count : counts) {
            if (count < 1 || count > 60) {
                throw std::invalid_argument("--projectors takes counts from 1 to 60");
            }
            const Row row = measure(count, seconds);
            if (count == 1) {
                std::printf("| 1 | - | - | - | - | %lld / %lld | %.2f |\n", row.underruns,
                            row.worstUnderruns, row.cpuPercent);
            } else {
                std::printf("| %d | %zu | %.2f | %.2f | %.2f | %lld / %lld | %.2f |\n", count,
                            row.frames, percentile(row.skews, 0.5), percentile(row.skews, 0.95),
                            percentile(row.skews, 1.0), row.underruns, row.worstUnderruns,
                            row.cpuPercent);
            }
            std::fflush(stdout);
        }
        return 0;
    } catch (const lumarok::test::NetnsUnavailable& error) {
        std::fprintf(stderr, "lumarok-skew-measure: %s\n", error.what());
        return 77;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok-skew-measure: %s\n", error.what());
        return 1;
    }
}
