// lumarok-relay: stands between the player and a projector on the projector's two
// ports and hands each datagram on late, or drops it, to rehearse a slow or lossy
// network. It sends only to the device it was given and to the player it heard, and
// never broadcasts (its sockets are not allowed to).
#include "relay_options.hpp"

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

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

sockaddr_in ipv4(const std::string& address, std::uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &result.sin_addr);
    return result;
}

class Socket {
public:
    Socket(const std::string& address, std::uint16_t port)
        : handle(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        if (handle < 0) {
            throw std::system_error(errno, std::system_category(), "Error opening socket");
        }
        // Shares the namespace with projectors bound to other addresses of the port.
        const int on = 1;
        if (port != 0) {
            ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        }
        const sockaddr_in own = ipv4(address, port);
        if (::bind(handle, reinterpret_cast<const sockaddr*>(&own), sizeof own) < 0) {
            const int code = errno;
            ::close(handle);
            throw std::system_error(code, std::system_category(),
                                    "Bind failed on " + address + " port " + std::to_string(port));
        }
    }
    ~Socket() { ::close(handle); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return handle; }

private:
    int handle;
};

struct Delayed {
    Clock::time_point due;
    std::size_t from = 0; // index of the socket it leaves by
    sockaddr_in to{};
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
std::size_t leavingSocket(const sockaddr_in& source) {
    for (std::size_t i = 0; i + 1 < kPorts.size(); ++i) {
        if (ntohs(source.sin_port) == kPorts[i]) {
            return i;
        }
    }
    return kPorts.size() - 1;
}

int run(const Options& options) {
    std::vector<std::unique_ptr<Socket>> sockets;
    for (const std::uint16_t port : kPorts) {
        sockets.push_back(std::make_unique<Socket>(options.listen, port));
    }
    const sockaddr_in device = ipv4(options.device, 0);
    std::optional<sockaddr_in> player;
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
            if (::sendto(sockets[d.from]->fd(), d.bytes.data(), d.bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&d.to), sizeof d.to) < 0) {
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
            for (;;) {
                sockaddr_in source{};
                socklen_t size = sizeof source;
                const ssize_t got = ::recvfrom(sockets[i]->fd(), buffer.data(), buffer.size(), 0,
                                               reinterpret_cast<sockaddr*>(&source), &size);
                if (got < 0) {
                    break;
                }
                Delayed d;
                d.due = Clock::now() + delay;
                d.from = leavingSocket(source);
                d.bytes.assign(buffer.begin(), buffer.begin() + got);
                if (source.sin_addr.s_addr == device.sin_addr.s_addr) {
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
                    player = source;
                    player->sin_port = htons(kPlayerPort);
                    if (toDeviceLoss.drop()) {
                        ++counts.toDeviceDropped;
                        continue;
                    }
                    d.to = device;
                    d.to.sin_port = htons(kPorts[i] != 0 ? kPorts[i] : kPorts[0]);
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
