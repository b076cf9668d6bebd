// The virtual projector's ports and the relay, each in network namespaces of their own:
// which requests the projector heeds and where it answers, and the relay's delay.
#include "net/ipv4_address.hpp"
#include "support/lumarok_process.hpp"
#include "support/netns.hpp"
#include "support/paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumarok::test {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<NetnsPair> makePair() {
    try {
        return std::make_unique<NetnsPair>();
    } catch (const NetnsUnavailable&) {
        return nullptr;
    }
}

#define REQUIRE_NETNS(pair)                                                                        \
    if (!(pair)) {                                                                                 \
        GTEST_SKIP() << "network namespaces cannot be created here ('ip netns add' refused)";      \
    }

long long count(const std::string& text, const std::string& name) {
    const std::regex line("(^|\\n)" + name + " (\\d+)\\n");
    std::smatch match;
    return std::regex_search(text, match, line) ? std::stoll(match[2]) : -1;
}

// A UDP socket of the player's side; port 0 lets the system choose.
class Endpoint {
public:
    Endpoint(const char* address, std::uint16_t port)
        : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in own = ipv4(address, port);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0) {
            throw std::runtime_error(std::string("cannot bind ") + address);
        }
    }
    ~Endpoint() { ::close(fd); }
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    void sendTo(const char* address, std::uint16_t port, std::uint8_t byte) const {
        const sockaddr_in to = ipv4(address, port);
        ::sendto(fd, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    // One datagram, or nothing within `timeout`.
    std::optional<std::vector<std::uint8_t>> receive(std::chrono::milliseconds timeout) const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
            return std::nullopt;
        }
        std::array<std::uint8_t, 2048> buffer{};
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        return std::vector<std::uint8_t>(buffer.begin(),
                                         buffer.begin() + std::max<ssize_t>(got, 0));
    }

private:
    static sockaddr_in ipv4(const char* address, std::uint16_t port) {
        return socketAddress({*Ipv4Address::parse(address), port});
    }
    int fd;
};

std::string nameIn(const std::vector<std::uint8_t>& info) {
    return info.size() > 38 ? std::string(info.begin() + 38, info.end() - 1) : "";
}

TEST(VirtualProjectorNetns, HeedsAndAnswersOnlyPort45457UnlessLenient) {
    const std::unique_ptr<NetnsPair> pair = makePair();
    REQUIRE_NETNS(pair);
    for (const bool lenient : {false, true}) {
        SCOPED_TRACE(lenient ? "lenient" : "strict");
        const TempDir dir;
        const std::string out = (dir.path() / "cube.out").string();
        std::vector<std::string> argv{programPath("tools/lumarok_cube/lumarok-cube")};
        if (lenient) {
            argv.emplace_back("--lenient");
        }
        NetnsProcess cube(pair->device(), argv, out, (dir.path() / "cube.err").string());
        ASSERT_TRUE(waitForText(out, "listening", 10s));

        runInNetns(pair->player(), [&] {
            const Endpoint fixed(NetnsPair::kPlayerAddress, 45457);
            const Endpoint other(NetnsPair::kPlayerAddress, 0);
            // A request from another port: a strict projector says nothing, to either port.
            for (const Endpoint* asking : {&other, &fixed}) {
                const bool answered = lenient || asking == &fixed;
                asking->sendTo(NetnsPair::kDeviceAddress, 45457, 0x77);
                const auto answer = asking->receive(answered ? 3000ms : 300ms);
                ASSERT_EQ(answer.has_value(), answered) << (asking == &fixed ? "45457" : "other");
                if (answer) {
                    EXPECT_EQ(nameIn(*answer), "lumarok-cube");
                }
                const Endpoint* bystander = asking == &fixed ? &other : &fixed;
                EXPECT_FALSE(bystander->receive(50ms).has_value());
            }
        });
        cube.signal(SIGTERM);
        ASSERT_EQ(cube.wait(10s), 0);
        const std::string counts = readFile(out);
        EXPECT_EQ(count(counts, "foreign_port"), lenient ? 0 : 1) << counts;
        EXPECT_EQ(count(counts, "discovery_requests"), lenient ? 2 : 1) << counts;
        EXPECT_EQ(count(counts, "largest_burst"), 0) << counts;
    }
}

TEST(UdpRelayNetns, DelaysOrDropsEachWay) {
    const std::unique_ptr<NetnsPair> pair = makePair();
    REQUIRE_NETNS(pair);
    pair->addDeviceAddress("10.213.0.3/24");
    const TempDir dir;
    const std::string cubeOut = (dir.path() / "cube.out").string();
    NetnsProcess cube(pair->device(),
                      {programPath("tools/lumarok_cube/lumarok-cube"), "--address",
                       NetnsPair::kDeviceAddress, "--name", "behind"},
                      cubeOut, (dir.path() / "cube.err").string());
    ASSERT_TRUE(waitForText(cubeOut, "listening", 10s));

    struct Case {
        const char* delay;
        const char* loss;
        std::chrono::milliseconds atLeast; // there and back; nothing comes back when < 0
    };
    for (const Case& c : {Case{"100", "0", 200ms}, Case{"0", "100", -1ms}}) {
        SCOPED_TRACE(std::string("delay ") + c.delay + " loss " + c.loss);
        const std::string out = (dir.path() / (std::string("relay") + c.loss + ".out")).string();
        NetnsProcess relay(pair->device(),
                           {programPath("tools/udp_relay/lumarok-relay"), "--listen", "10.213.0.3",
                            "--device", NetnsPair::kDeviceAddress, "--delay-ms", c.delay, "--loss",
                            c.loss},
                           out, (dir.path() / "relay.err").string());
        ASSERT_TRUE(waitForText(out, "listening", 10s))
            << readFile((dir.path() / "relay.err").string());
        runInNetns(pair->player(), [&] {
            const Endpoint player(NetnsPair::kPlayerAddress, 45457);
            const auto sent = std::chrono::steady_clock::now();
            player.sendTo("10.213.0.3", 45457, 0x77);
            const auto answer = player.receive(c.atLeast < 0ms ? 300ms : 3000ms);
            ASSERT_EQ(answer.has_value(), c.atLeast >= 0ms);
            if (answer) {
                EXPECT_GE(std::chrono::steady_clock::now() - sent, c.atLeast);
                EXPECT_EQ(nameIn(*answer), "behind") << "the device's own answer";
            }
        });
        relay.signal(SIGTERM);
        ASSERT_EQ(relay.wait(10s), 0);
        const std::string counts = readFile(out);
        const bool through = c.atLeast >= 0ms;
        EXPECT_EQ(count(counts, "to_device_forwarded"), through ? 1 : 0) << counts;
        EXPECT_EQ(count(counts, "to_device_dropped"), through ? 0 : 1) << counts;
        EXPECT_EQ(count(counts, "to_player_forwarded"), through ? 1 : 0) << counts;
        EXPECT_EQ(count(counts, "to_player_dropped"), 0) << counts;
    }
    cube.signal(SIGTERM);
    ASSERT_EQ(cube.wait(10s), 0);
    EXPECT_EQ(count(readFile(cubeOut), "foreign_port"), 0)
        << "the relay keeps the player's port: a strict projector heeds it";
}

} // namespace
} // namespace lumarok::test
