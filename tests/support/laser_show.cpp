#include "support/laser_show.hpp"

#include <poll.h>
#include <thread>

#include "net/ipv4_address.hpp"
#include "support/paths.hpp"

#include <algorithm>
#include <bit>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumarok::test {

using namespace std::chrono_literals;

std::vector<CubeProgress> progressLines(const std::string& cubeOutput) {
    std::vector<CubeProgress> lines;
    std::istringstream in(cubeOutput);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("progress ", 0) != 0) {
            continue;
        }
        std::istringstream fields(line.substr(9));
        CubeProgress p;
        if (fields >> p.seconds >> p.packets >> p.frames >> p.samples >> p.underruns >>
            p.overflows) {
            lines.push_back(p);
        }
    }
    return lines;
}

double fedRate(const std::string& deviceOutput) {
    const std::vector<CubeProgress> lines = progressLines(deviceOutput);
    const auto first = std::find_if(lines.begin(), lines.end(),
                                    [](const CubeProgress& p) { return p.samples > 0; });
    if (first == lines.end() || lines.back().seconds <= first->seconds) {
        return 0.0;
    }
    return static_cast<double>(lines.back().samples - first->samples) /
           (lines.back().seconds - first->seconds);
}

CubeProgress progressAt(const std::vector<CubeProgress>& lines, double seconds) {
    CubeProgress found;
    for (const CubeProgress& p : lines) {
        if (p.seconds > seconds) {
            break;
        }
        found = p;
    }
    return found;
}

long long cubeCount(const std::string& cubeOutput, const std::string& name) {
    const std::regex line("(^|\\n)" + name + " (\\d+)\\n");
    std::smatch match;
    return std::regex_search(cubeOutput, match, line) ? std::stoll(match[2]) : -1;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5)];
}

long long underrunAllowance() {
    double load = 0.0;
    std::ifstream("/proc/loadavg") >> load;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    if (load <= static_cast<double>(cores)) {
        return 2;
    }
    std::printf("load average %.1f on %u cores: a few underruns are tolerated\n", load, cores);
    return 6;
}

long residentKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = -1;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

std::vector<CubeFrame> readFrameLog(const std::string& path) {
    std::vector<CubeFrame> frames;
    std::istringstream log(readFile(path));
    for (std::string line; std::getline(log, line);) {
        unsigned counter = 0;
        CubeFrame frame;
        unsigned long long signature = 0;
        if (std::sscanf(line.c_str(), "%u %lf %zu %llx %lf %ld %u %u", &counter, &frame.arrival,
                        &frame.samples, &signature, &frame.played, &frame.firstLit, &frame.litX,
                        &frame.litY) >= 4) {
            frame.signature = signature;
            frames.push_back(frame);
        }
    }
    return frames;
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::vector<std::uint8_t> oscTime(float seconds) {
    std::vector<std::uint8_t> bytes{'/', 'T', 'i', 'm', 'e', 0, 0, 0, ',', 'f', 0, 0};
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(seconds);
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
    }
    return bytes;
}

UdpSender::UdpSender() : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (fd < 0) {
        throw std::runtime_error("cannot open a UDP socket");
    }
}

UdpSender::UdpSender(const char* address) : UdpSender() {
    const sockaddr_in own = socketAddress({Ipv4Address::parse(address).value_or(kAnyAddress), 0});
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0) {
        ::close(fd);
        throw std::runtime_error(std::string("cannot bind to ") + address);
    }
}

UdpSender::~UdpSender() {
    ::close(fd);
}

void UdpSender::send(const char* address, std::uint16_t port,
                     const std::vector<std::uint8_t>& bytes) const {
    const sockaddr_in to = socketAddress({Ipv4Address::parse(address).value_or(kAnyAddress), port});
    // A full socket buffer only loses this datagram; senders here are floods or clocks.
    (void)::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                   sizeof to);
}

std::vector<std::uint8_t> UdpSender::receive(std::chrono::milliseconds timeout) const {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) {
        return {};
    }
    std::vector<std::uint8_t> bytes(2048);
    const ssize_t got = ::recv(fd, bytes.data(), bytes.size(), MSG_DONTWAIT);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

NetnsWorker::NetnsWorker(const std::string& netns,
                         std::function<void(const std::atomic<bool>&)> work)
    : thread([this, netns, work = std::move(work)] {
          try {
              runInNetns(netns, [&] { work(stop); });
          } catch (...) {
              failure = std::current_exception();
          }
      }) {}

NetnsWorker::~NetnsWorker() {
    stop = true;
    if (thread.joinable()) {
        thread.join();
    }
}

void NetnsWorker::finish() {
    stop = true;
    if (thread.joinable()) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

std::unique_ptr<LaserShowRig> LaserShowRig::make() {
    try {
        return std::unique_ptr<LaserShowRig>(new LaserShowRig(std::make_unique<NetnsPair>()));
    } catch (const NetnsUnavailable&) {
        return nullptr;
    }
}

LaserShowRig::LaserShowRig(std::unique_ptr<NetnsPair> made) : pair(std::move(made)) {}

void LaserShowRig::startCube(const std::vector<std::string>& extra) {
    std::vector<std::string> argv{programPath("tools/lumarok_cube/lumarok-cube"), "--progress"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    cubeStart = std::chrono::steady_clock::now();
    cubeProcess.emplace(pair->device(), argv, file("cube.out"), file("cube.err"));
    if (!waitForText(file("cube.out"), "listening", 10s)) {
        throw std::runtime_error("the virtual projector did not start: " +
                                 readFile(file("cube.err")));
    }
}

void LaserShowRig::startPlayer(const std::vector<std::string>& arguments,
                               const std::string& workingDirectory,
                               const std::vector<std::string>& program) {
    std::vector<std::string> argv =
        program.empty() ? std::vector<std::string>{programPath("lumarok")} : program;
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    playerProcess.emplace(pair->player(), argv, file("player.out"), file("player.err"),
                          workingDirectory.empty() ? sourceDir() : workingDirectory);
}

bool LaserShowRig::waitForDiscovery(std::chrono::milliseconds timeout) const {
    return waitForText(file("player.out"), "Found", timeout);
}

int LaserShowRig::stopPlayer(std::chrono::milliseconds timeout) {
    playerProcess->signal(SIGTERM);
    return playerProcess->wait(timeout);
}

std::string LaserShowRig::stopCube() {
    cubeProcess->signal(SIGTERM);
    cubeProcess->wait(10s);
    return cubeOutput();
}

double LaserShowRig::cubeSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - cubeStart).count();
}

void playFor(const LaserShowRig& rig, double seconds) {
    const double until = rig.cubeSeconds() + seconds;
    while (rig.cubeSeconds() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace lumarok::test
