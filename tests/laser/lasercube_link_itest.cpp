// The link against the virtual projector, each in a network namespace of its own.
#include "net/ipv4_address.hpp"
#include "support/forged_datagrams.hpp"
#include "support/laser_show.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

// Long enough to wrap both counters and to hear the forged reports out; the long streams
// are the soak's and the measuring tools'.
constexpr int kStreamSeconds = 8;

struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lrk_link_XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

std::unique_ptr<NetnsPair> makePair() {
    try {
        return std::make_unique<NetnsPair>();
    } catch (const NetnsUnavailable&) {
        return nullptr;
    }
}

// The value of a "name N" count line, or -1.
long long count(const std::string& text, const std::string& name) {
    const std::regex line("(^|\\n)" + name + " (\\d+)\\n");
    std::smatch match;
    return std::regex_search(text, match, line) ? std::stoll(match[2]) : -1;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The probe's test pattern as JSON, the way the projector dumps it.
std::string patternJson(std::size_t count) {
    std::ostringstream json;
    json << "[";
    for (std::size_t i = 0; i < count; ++i) {
        json << (i == 0 ? "" : ",") << "[" << i * 37 % 4096 << "," << i * 11 % 4096 << ",4095,"
             << i % 4096 << ",7]";
    }
    json << "]";
    return json.str();
}

class UdpEndpoint {
public:
    UdpEndpoint(const char* address, std::uint16_t port)
        : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in own = ipv4(address, port);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0) {
            throw std::runtime_error(std::string("cannot bind ") + address);
        }
    }
    ~UdpEndpoint() { ::close(fd); }
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    static sockaddr_in ipv4(const char* address, std::uint16_t port) {
        return socketAddress({*Ipv4Address::parse(address), port});
    }
    void sendTo(const char* address, std::uint16_t port, const std::vector<std::uint8_t>& bytes) {
        const sockaddr_in to = ipv4(address, port);
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    // One datagram, or nothing within `timeout`.
    std::optional<std::vector<std::uint8_t>> receive(std::chrono::milliseconds timeout) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
            return std::nullopt;
        }
        std::array<std::uint8_t, 2048> buffer{};
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got < 0) {
            return std::nullopt;
        }
        return std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + got);
    }

private:
    int fd;
};

#define REQUIRE_NETNS(pair)                                                                        \
    if (!(pair)) {                                                                                 \
        GTEST_SKIP() << "network namespaces cannot be created here ('ip netns add' refused)";      \
    }

TEST(LaserCubeLinkNetns, StreamsWithoutUnderrunAndIgnoresForgedReports) {
    const std::unique_ptr<NetnsPair> pair = makePair();
    REQUIRE_NETNS(pair);
    pair->addDeviceAddress("10.213.0.3/24");
    const TempDir dir;
    NetnsProcess cube(pair->device(),
                      {programPath("tools/lumarok_cube/lumarok-cube"), "--seconds", "60", "--dump",
                       dir / "frames.jsonl", "--dump-after", "3", "--dump-frames", "5", "--picture",
                       dir / "last.svg"},
                      dir / "cube.out", dir / "cube.err");
    ASSERT_TRUE(waitForText(dir / "cube.out", "listening", 10s)) << readFile(dir / "cube.err");

    // The device holds only 50 ms of samples ahead; on a machine shared with builds the
    // sender gets the priority a show machine would give the player.
    NetnsProcess probe(pair->player(),
                       {"nice", "-n", "-10", programPath("tools/lumarok_cube/lumarok-link-probe"),
                        "--netns", pair->player(), "--seconds", std::to_string(kStreamSeconds),
                        "--samples", "600"},
                       dir / "probe.out", dir / "probe.err");
    ASSERT_TRUE(waitForText(dir / "probe.out", "Foundlumarok-cube Ip: 10.213.0.2\n", 10s))
        << readFile(dir / "probe.err");

    // A third host tells the link the device is full, then empty, then somewhere else.
    // Heeded, any of these would starve, flood or lose the projector.
    std::this_thread::sleep_for(3s);
    runInNetns(pair->device(), [] {
        UdpEndpoint forger("10.213.0.3", 0);
        const std::vector<std::uint8_t> moved = forgedDeviceInfo();
        for (int i = 0; i < 100; ++i) {
            forger.sendTo(NetnsPair::kPlayerAddress, 45457, {0x8A, 0, 0, 0});
            forger.sendTo(NetnsPair::kPlayerAddress, 45457, {0x8A, 0, 0xFF, 0xFF});
            forger.sendTo(NetnsPair::kPlayerAddress, 45457, moved);
            std::this_thread::sleep_for(10ms);
        }
    });

    ASSERT_EQ(probe.wait(60s), 0) << readFile(dir / "probe.err");
    const std::string probeErr = readFile(dir / "probe.err");
    EXPECT_EQ(probeErr.find("ThreadSanitizer"), std::string::npos) << probeErr;
    ASSERT_TRUE(waitForText(dir / "cube.out", "switch B off\nswitch B off\n", 5s));
    cube.signal(SIGTERM);
    ASSERT_EQ(cube.wait(10s), 0) << readFile(dir / "cube.err");

    const std::string out = readFile(dir / "cube.out");
    EXPECT_NE(out.find("switch A on\nswitch A on\nswitch B on\nswitch B on\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("switch A off\nswitch A off\nswitch B off\nswitch B off\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(count(out, "switch_commands"), 8);
    EXPECT_LE(count(out, "underruns"), underrunAllowance()) << out;
    EXPECT_EQ(count(out, "overflows"), 0) << out;
    EXPECT_EQ(count(out, "malformed"), 0);
    EXPECT_EQ(count(out, "message_gaps"), 0) << "message counters consecutive, wrapping";
    EXPECT_EQ(count(out, "frame_gaps"), 0) << "frame counters consecutive, wrapping";
    // The stream at 30000 samples per second, within the start-up fill and the last reports.
    const long long samples = count(out, "samples");
    EXPECT_GT(samples, kStreamSeconds * 30000 * 95 / 100) << out;
    EXPECT_LT(samples, kStreamSeconds * 30000 * 105 / 100) << out;
    EXPECT_GT(count(out, "packets"), 256) << "enough packets to wrap the message counter";
    EXPECT_LE(count(out, "discovery_requests"), 2) << out;

    const std::string frames = readFile(dir / "frames.jsonl");
    EXPECT_EQ(occurrences(frames, "\n"), 5u);
    EXPECT_EQ(occurrences(frames, "\"samples\":" + patternJson(600) + "}"), 5u)
        << "every dumped frame is the probe's pattern, sample for sample";
    EXPECT_NE(readFile(dir / "last.svg").find("<line"), std::string::npos);
}

TEST(LaserCubeLinkNetns, DiscoverySkipsEchoesAndStrangersAndFallsBackToSourceAddress) {
    const std::unique_ptr<NetnsPair> pair = makePair();
    REQUIRE_NETNS(pair);
    const TempDir dir;
    std::optional<NetnsProcess> probe;
    std::vector<std::vector<std::uint8_t>> switches;
    runInNetns(pair->device(), [&] {
        UdpEndpoint device("0.0.0.0", 45457); // any: a broadcast reaches no unicast-bound socket
        probe.emplace(pair->player(),
                      std::vector<std::string>{programPath("tools/lumarok_cube/lumarok-link-probe"),
                                               "--netns", pair->player(), "--seconds", "0.3",
                                               "--samples", "10"},
                      dir / "probe.out", dir / "probe.err");
        auto request = device.receive(5s);
        ASSERT_TRUE(request.has_value());
        ASSERT_EQ(*request, std::vector<std::uint8_t>{0x77});
        // Neither a lone 0x77 nor a stranger's datagram ends discovery.
        device.sendTo(NetnsPair::kPlayerAddress, 45457, {0x77});
        device.sendTo(NetnsPair::kPlayerAddress, 45457, {0x55, 1, 2, 3, 4});
        const auto before = std::chrono::steady_clock::now();
        request = device.receive(5s);
        ASSERT_TRUE(request.has_value()) << "the link asks again";
        EXPECT_EQ(*request, std::vector<std::uint8_t>{0x77});
        EXPECT_GE(std::chrono::steady_clock::now() - before, 150ms)
            << "requests are spaced, not flooded";
        // Three bytes are a device information; it carries no address, so the
        // link must use the address the answer came from.
        device.sendTo(NetnsPair::kPlayerAddress, 45457, {0x77, 0, 0});
        while (auto datagram = device.receive(3s)) {
            if (datagram->size() == 2) {
                switches.push_back(*datagram);
            }
            if (switches.size() == 8) {
                break;
            }
        }
    });
    ASSERT_EQ(probe->wait(10s), 0) << readFile(dir / "probe.err");
    EXPECT_EQ(readFile(dir / "probe.out").rfind("Found Ip: 10.213.0.2\n", 0), 0u)
        << readFile(dir / "probe.out");
    EXPECT_NE(readFile(dir / "probe.err").find("waiting for a projector"), std::string::npos);
    const std::vector<std::vector<std::uint8_t>> expected{
        {0x78, 1}, {0x78, 1}, {0x80, 1}, {0x80, 1}, {0x78, 0}, {0x78, 0}, {0x80, 0}, {0x80, 0}};
    EXPECT_EQ(switches, expected);
}

TEST(LaserCubeLinkNetns, StopFlagEndsAWaitingDiscovery) {
    const std::unique_ptr<NetnsPair> pair = makePair();
    REQUIRE_NETNS(pair);
    const TempDir dir;
    NetnsProcess probe(
        pair->player(),
        {programPath("tools/lumarok_cube/lumarok-link-probe"), "--netns", pair->player()},
        dir / "probe.out", dir / "probe.err");
    ASSERT_TRUE(waitForText(dir / "probe.err", "waiting for a projector", 5s));
    probe.signal(SIGTERM);
    EXPECT_EQ(probe.wait(2s), 3) << readFile(dir / "probe.err");
    EXPECT_EQ(readFile(dir / "probe.out"), "discovery cancelled\n");
}

TEST(LaserCubeLinkNetns, ProbeRefusesToBroadcastOutsideItsNamespace) {
    const TempDir dir;
    // Run in this process's own namespace: the probe must stop before any socket.
    const std::string command = programPath("tools/lumarok_cube/lumarok-link-probe") +
                                " --netns lrk_nowhere >" + (dir / "out") + " 2>" + (dir / "err");
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 97);
    EXPECT_NE(readFile(dir / "err").find("refusing"), std::string::npos);
}

} // namespace
} // namespace lumarok::test
