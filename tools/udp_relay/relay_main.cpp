// lumarok-relay: stands between the player and a projector on the projector's two
// ports and hands each datagram on late, or drops it, to rehearse a slow or lossy
// network. It sends only to the device it was given and to the player it heard, and
// never broadcasts (its sockets are not allowed to).
#include "relay_options.hpp"
#include "tool_socket.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <poll.h>

namespace lumarok::relay {

namespace {

using Clock = std::chrono::steady_clock;

// The projector's two ports, and one the system chooses: datagrams sent from any other
// port leave by it, so the far side sees that the port was not the protocol's.
constexpr std::array<std::uint16_t, 3> kPorts{45457, 45458, 0};
constexpr std::uint16_t kPlayerPort = 45457; // where the player hears the device

volatile std::sig_atomic_t gStop = 0;

extern "C" void requestStop(int) {
    gStop = 1;
}

struct Delayed {
    Clock::time_point due;
    std::size_t from = 0; // index of the socket it leaves by
    Ipv4Endpoint to;
    bool toDevice = false;
    std::vector<std::byte> bytes;
};

struct Counts {
    std::uint64_t toDeviceForwarded = 0;
    std::uint64_t toDeviceDropped = 0;
    std::uint64_t toPlayerForwarded = 0;
    std::uint64_t toPlayerDropped = 0;
    std::uint64_t noPlayer = 0;
    std::uint64_t sendFailures = 0;
};

// Each way draws its own losses, so the traffic one way does not change the other's.
class Loss {
public:
    Loss(double percent, std::uint32_t seed) : chance(percent / 100.0), engine(seed) {}
    bool drop() {
        return chance > 0.0 && std::uniform_real_distribution<double>(0, 1)(engine) < chance;
    }

private:
    double chance;
    std::mt19937 engine;
};

// The socket a datagram leaves by: the one of the port it was sent from, so that a
// projector sees the player's ports (and the player the projector's).
std::size_t leavingSocket(Ipv4Endpoint source) {
    for (std::size_t i = 0; i + 1 < kPorts.size(); ++i) {
        if (source.port == kPorts[i]) {
            return i;
        }
    }
    return kPorts.size() - 1;
}

int run(const Options& options) {
    std::vector<std::unique_ptr<tools::ToolSocket>> sockets;
    for (const std::uint16_t port : kPorts) {
        // Shares the namespace with projectors bound to other addresses of the port.
        sockets.push_back(std::make_unique<tools::ToolSocket>(Ipv4Endpoint{*options.listen, port},
                                                              port != 0, true));
    }
    const Ipv4Address device = *options.device;
    std::optional<Ipv4Endpoint> player;
    const auto delay = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(options.delayMs));
    Loss toDeviceLoss(options.lossPercent, options.seed);
    Loss toPlayerLoss(options.lossPercent, options.seed + 1);
    std::deque<Delayed> queue; // one delay for all: arrival order is departure order
    Counts counts;
    const Clock::time_point start = Clock::now();
    std::array<std::byte, 65536> buffer{};
    std::puts("listening");
    std::fflush(stdout);

    while (gStop == 0) {
        const Clock::time_point now = Clock::now();
        if (options.seconds > 0.0 &&
            std::chrono::duration<double>(now - start).count() >= options.seconds) {
            break;
        }
        while (!queue.empty() && queue.front().due <= now) {
            const Delayed& d = queue.front();
            if (!sockets[d.from]->sendTo(d.to, d.bytes)) {
                ++counts.sendFailures;
            } else {
                ++(d.toDevice ? counts.toDeviceForwarded : counts.toPlayerForwarded);
            }
            queue.pop_front();
        }
        Clock::duration wait = std::chrono::milliseconds(50);
        if (!queue.empty()) {
            wait = std::min(wait, queue.front().due - now);
        }
        std::array<pollfd, kPorts.size()> watched{};
        for (std::size_t i = 0; i < watched.size(); ++i) {
            watched[i] = pollfd{sockets[i]->fd(), POLLIN, 0};
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                               static_cast<long>(ns % 1'000'000'000)};
        if (::ppoll(watched.data(), watched.size(), &timeout, nullptr) <= 0) {
            continue; // time-out or a signal
        }
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            while (const std::optional<tools::ToolDatagram> got = sockets[i]->receive(buffer)) {
                const Ipv4Endpoint source = got->source;
                Delayed d;
                d.due = Clock::now() + delay;
                d.from = leavingSocket(source);
                d.bytes.assign(buffer.begin(),
                               buffer.begin() + static_cast<std::ptrdiff_t>(got->length));
                if (source.address == device) {
                    if (!player) {
                        ++counts.noPlayer;
                        continue;
                    }
                    if (toPlayerLoss.drop()) {
                        ++counts.toPlayerDropped;
                        continue;
                    }
                    d.to = *player;
                } else {
                    player = Ipv4Endpoint{source.address, kPlayerPort};
                    if (toDeviceLoss.drop()) {
                        ++counts.toDeviceDropped;
                        continue;
                    }
                    d.to = Ipv4Endpoint{device, kPorts[i] != 0 ? kPorts[i] : kPorts[0]};
                    d.toDevice = true;
                }
                queue.push_back(std::move(d));
            }
        }
    }

    const std::pair<const char*, std::uint64_t> lines[] = {
        {"to_device_forwarded", counts.toDeviceForwarded},
        {"to_device_dropped", counts.toDeviceDropped},
        {"to_player_forwarded", counts.toPlayerForwarded},
        {"to_player_dropped", counts.toPlayerDropped},
        {"no_player", counts.noPlayer},
        {"in_flight", queue.size()},
        {"send_failures", counts.sendFailures},
    };
    for (const auto& [name, value] : lines) {
        std::printf("%s %llu\n", name, static_cast<unsigned long long>(value));
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

} // namespace lumarok::relay

int main(int argc, char** argv) {
    using namespace lumarok::relay;
    try {
        const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        return run(options);
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "lumarok-relay: %s\n%s", error.what(), kUsage);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok-relay: %s\n", error.what());
        return 1;
    }
}
