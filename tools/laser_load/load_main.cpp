// lumarok-laser-load: the show in laser mode (steady clock, 1x) against lumarok-cube,
// each in a network namespace made for the run, while `stress-ng --cpu N` keeps every
// core busy. Runs once with the sender's real-time scheduling granted and once with
// it refused (CAP_SYS_NICE and CAP_IPC_LOCK dropped with setpriv), the virtual
// projector at SCHED_FIFO 20 in both (it stands for a device with a processor of its
// own), and prints a
// Markdown table: underruns, overflows, lit-starved time, samples per second.
// Needs root (namespaces); never broadcasts outside the namespaces it makes.
#include "support/laser_show.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using lumarok::test::cubeCount;
using lumarok::test::NetnsPair;
using lumarok::test::NetnsProcess;
using lumarok::test::readFile;

double loadAverage() {
    double load = 0.0;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

struct Row {
    std::string scheduling;
    double seconds = 0.0;
    long long underruns = -1;
    long long overflows = -1;
    long long litStarvedMs = -1;
    double samplesPerSecond = 0.0;
    double load = 0.0;
    std::string refusal; // the player's line, when real time was refused
};

Row play(bool realtime, double seconds, int cpus, const std::string& dir) {
    const NetnsPair pair;
    // A real projector has a processor of its own; the virtual one gets the same
    // real-time priority in both runs, so the load measures the player alone.
    NetnsProcess cube(pair.device(),
                      {"chrt", "-f", "20",
                       lumarok::test::programPath("tools/lumarok_cube/lumarok-cube"), "--seconds",
                       std::to_string(seconds + 60)},
                      dir + "/cube.out", dir + "/cube.err");
    if (!lumarok::test::waitForText(dir + "/cube.out", "listening", 10s)) {
        throw std::runtime_error("the virtual projector did not start");
    }
    NetnsProcess stress(pair.device(),
                        {"stress-ng", "--cpu", std::to_string(cpus), "--timeout",
                         std::to_string(static_cast<int>(seconds) + 30) + "s", "--quiet"},
                        dir + "/stress.out", dir + "/stress.err");
    std::this_thread::sleep_for(1s); // the load is on before the show starts
    std::vector<std::string> argv;
    if (!realtime) {
        argv = {"setpriv",    "--bounding-set",      "-sys_nice,-ipc_lock",
                "--inh-caps", "-sys_nice,-ipc_lock", "--"};
    }
    argv.push_back(lumarok::test::programPath("lumarok"));
    argv.push_back("-laser");
    NetnsProcess show(pair.player(), argv, dir + "/show.out", dir + "/show.err",
                      lumarok::test::sourceDir());
    if (!lumarok::test::waitForText(dir + "/show.out", "Found", 60s)) {
        throw std::runtime_error("the show did not find the projector: " +
                                 readFile(dir + "/show.err"));
    }
    const auto start = std::chrono::steady_clock::now();
    Row row;
    row.scheduling = realtime ? "SCHED_FIFO 10, memory locked" : "normal (real time refused)";
    while (std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds)) {
        std::this_thread::sleep_for(1s);
        row.load = std::max(row.load, loadAverage());
        if (show.wait(0ms) != -1) {
            throw std::runtime_error("the show ended: " + readFile(dir + "/show.err"));
        }
    }
    row.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    show.signal(SIGTERM);
    show.wait(10s);
    stress.signal(SIGTERM);
    stress.wait(10s);
    cube.signal(SIGTERM);
    cube.wait(10s);
    const std::string counts = "\n" + readFile(dir + "/cube.out");
    row.underruns = cubeCount(counts, "underruns");
    row.overflows = cubeCount(counts, "overflows");
    row.litStarvedMs = cubeCount(counts, "lit_starved_ms");
    row.samplesPerSecond = static_cast<double>(cubeCount(counts, "samples")) / row.seconds;
    const std::string errors = readFile(dir + "/show.err");
    if (const std::size_t at = errors.find("real-time scheduling refused");
        at != std::string::npos) {
        row.refusal = errors.substr(errors.rfind('\n', at) + 1);
        row.refusal = row.refusal.substr(0, row.refusal.find('\n'));
    }
    return row;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 232.0; // the whole demo show
    int cpus = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds") {
            seconds = std::stod(argv[i + 1]);
        } else if (option == "--cpus") {
            cpus = std::stoi(argv[i + 1]);
        }
    }
    try {
        const std::string dir =
            std::filesystem::temp_directory_path() / ("lrk_load_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        std::vector<Row> rows;
        for (const bool realtime : {true, false}) {
            rows.push_back(play(realtime, seconds, cpus, dir));
        }
        std::filesystem::remove_all(dir);
        std::printf("| sender scheduling | seconds | underruns | overflows | lit-starved ms | "
                    "samples/s | peak load |\n");
        std::printf("|---|---|---|---|---|---|---|\n");
        for (const Row& r : rows) {
            std::printf("| %s | %.0f | %lld | %lld | %lld | %.0f | %.1f |\n", r.scheduling.c_str(),
                        r.seconds, r.underruns, r.overflows, r.litStarvedMs, r.samplesPerSecond,
                        r.load);
        }
        for (const Row& r : rows) {
            if (!r.refusal.empty()) {
                std::printf("\nThe player said: `%s`\n", r.refusal.c_str());
            }
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok-laser-load: %s\n", error.what());
        return 1;
    }
}
