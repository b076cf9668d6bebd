// The virtual Ether Dream: status broadcasts on UDP 7654 once a second, one TCP client
// on 7765, a point buffer that drains at the point rate in real time. Where the DAC's
// documentation and its firmware disagree it takes the stricter side against the
// player: 'b' needs a prepared DAC with points in its buffer, and a 'd' with more
// points than fit keeps what fits and answers NAK-I. An unknown command closes the
// connection, as the firmware does.
#include "etherdream_device.hpp"

#include "etherdream_dac.hpp"
#include "laser/etherdream_protocol.hpp"
#include "net/ipv4_address.hpp"
#include "tool_options.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace lumarok::cube {

const char* const kEtherDreamUsage =
    "usage: lumarok-cube --kind etherdream [options]\n"
    "A virtual Ether Dream DAC: broadcasts its status on UDP 7654 once a second, takes one\n"
    "client on TCP 7765 and plays its points in real time.\n"
    "  --address ADDR       own IPv4 address to bind (default: all)\n"
    "  --broadcast-to ADDR  where the status broadcasts go (default: the broadcast address\n"
    "                       of each interface that is up, as a DAC on that network sends)\n"
    "  --mac XX:XX:XX:XX:XX:XX  its MAC address (02:00:00:00:00:01)\n"
    "  --buffer-size N      buffer capacity in points (1799)\n"
    "  --max-rate N         highest point rate (100000)\n"
    "  --stall-after S      stop playing S seconds after start: the buffer stays full\n"
    "  --estop-after S      enter e-stop S seconds after start, once\n"
    "  --seconds S          stop after S seconds (default: at SIGINT or SIGTERM)\n"
    "  --lit-log PATH       the time (steady clock, s) of every lit point played after\n"
    "                       at least 5 ms of dark ones, one a line\n"
    "  --progress           print 'progress SECONDS writes begins points underruns dropped'\n"
    "                       every second\n"
    "On exit it prints counts, one per line: writes, begins, points, underruns, dropped,\n"
    "malformed (unknown commands), nak_invalid, prepares, stops_acknowledged,\n"
    "stopped_at_us (arrival of the last acknowledged 's' on the monotonic clock),\n"
    "playing_at_exit, last_sample_lit (the last point stored), lit_starved_ms (time idle\n"
    "after an underflow on a lit point), largest_write (points in one 'd'),\n"
    "max_samples_100ms (most points received in any 100 ms), connections, rejected.\n";

namespace {

namespace ed = etherdream;
using Clock = DacClock;

volatile std::sig_atomic_t gStopped = 0;
extern "C" void requestEnd(int) {
    gStopped = 1;
}

Settings parse(const std::vector<std::string>& arguments) {
    Settings s;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= arguments.size()) {
                throw std::invalid_argument(option + " needs a value");
            }
            return arguments[++i];
        };
        if (option == "--address") {
            s.address = value();
        } else if (option == "--broadcast-to") {
            s.broadcastTo = value();
        } else if (option == "--mac") {
            const std::string& text = value();
            unsigned m[6];
            if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4],
                            &m[5]) != 6) {
                throw std::invalid_argument("--mac wants XX:XX:XX:XX:XX:XX, not '" + text + "'");
            }
            for (int k = 0; k < 6; ++k) {
                s.mac[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(m[k]);
            }
        } else if (option == "--buffer-size") {
            s.bufferSize = static_cast<int>(tools::numberOption(option, value(), 2, 65535));
        } else if (option == "--max-rate") {
            s.maxRate = static_cast<std::uint32_t>(tools::numberOption(option, value(), 1, 4e9));
        } else if (option == "--stall-after") {
            s.stallAfter = tools::numberOption(option, value(), 0, 1e7);
        } else if (option == "--estop-after") {
            s.estopAfter = tools::numberOption(option, value(), 0, 1e7);
        } else if (option == "--seconds") {
            s.seconds = tools::numberOption(option, value(), 0, 1e7);
        } else if (option == "--progress") {
            s.progress = true;
        } else if (option == "--lit-log") {
            s.litLog = value();
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    return s;
}

class Fd {
public:
    explicit Fd(int handle) : fd(handle) {
        if (fd < 0) {
            throw std::system_error(errno, std::system_category(), "Error opening socket");
        }
    }
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void reset(int handle = -1) {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = handle;
    }
    [[nodiscard]] int get() const { return fd; }

private:
    int fd;
};

void bindTo(int fd, Ipv4Address address, std::uint16_t port) {
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in local = socketAddress({address, port});
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        throw std::system_error(errno, std::system_category(),
                                "Bind failed on port " + std::to_string(port));
    }
}

// The broadcast address of every interface's subnet but the loopback's: a DAC is heard
// on the network it is on.
std::vector<Ipv4Address> interfaceBroadcasts() {
    std::vector<Ipv4Address> targets;
    for (const SubnetBroadcast& subnet : localSubnetBroadcasts()) {
        if (!AddressRange::parse("127.0.0.0/8").contains(subnet.address)) {
            targets.push_back(subnet.address);
        }
    }
    return targets;
}

void line(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

int runEtherDream(const std::vector<std::string>& arguments) {
    for (const std::string& a : arguments) {
        if (a == "--help" || a == "-h") {
            std::fputs(kEtherDreamUsage, stdout);
            return 0;
        }
    }
    const Settings settings = parse(arguments);
    const Ipv4Address own = settings.address.empty()
                                ? kAnyAddress
                                : tools::addressOption("--address", settings.address);
    // None: each interface's own broadcast address.
    const std::optional<Ipv4Address> broadcastTo =
        settings.broadcastTo.empty()
            ? std::nullopt
            : std::optional(tools::addressOption("--broadcast-to", settings.broadcastTo));
    struct sigaction action {};
    action.sa_handler = requestEnd;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    const Fd status(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(status.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    bindTo(status.get(), own, ed::kBroadcastPort);
    const Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    bindTo(listener.get(), own, ed::kCommandPort);
    if (::listen(listener.get(), 4) != 0) {
        throw std::system_error(errno, std::system_category(), "listen failed");
    }
    Dac dac(settings);
    Fd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); // replaced on accept
    client.reset();
    std::vector<std::byte> input;
    std::vector<std::byte> output;
    const Clock::time_point start = Clock::now();
    Clock::time_point nextBroadcast = start;
    Clock::time_point nextProgress = start + std::chrono::seconds(1);
    bool estopped = false;
    line("listening etherdream");

    const auto respond = [&](std::uint8_t reply, std::uint8_t command) {
        std::array<std::byte, ed::kResponseBytes> bytes{};
        ed::writeResponse(bytes, ed::Response{reply, command, dac.status()});
        if (reply == static_cast<std::uint8_t>(ed::Reply::invalid)) {
            ++dac.counts.nakInvalid;
        }
        output.insert(output.end(), bytes.begin(), bytes.end());
    };
    while (gStopped == 0) {
        const timespec tick{0, 1'000'000};
        ::clock_nanosleep(CLOCK_MONOTONIC, 0, &tick, nullptr);
        const Clock::time_point now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - start).count();
        const bool stalledNow = settings.stallAfter >= 0.0 && seconds >= settings.stallAfter;
        if (settings.estopAfter >= 0.0 && seconds >= settings.estopAfter && !estopped) {
            estopped = true;
            dac.emergencyStop();
            line("e-stop");
        }
        dac.advance(now, stalledNow);
        if (now >= nextBroadcast) {
            std::array<std::byte, ed::kBroadcastBytes> bytes{};
            ed::Broadcast b;
            b.mac = settings.mac;
            b.hardwareRevision = 1;
            b.softwareRevision = 2;
            b.bufferCapacity = static_cast<std::uint16_t>(settings.bufferSize);
            b.maxPointRate = settings.maxRate;
            b.status = dac.status();
            ed::writeBroadcast(bytes, b);
            for (const Ipv4Address target :
                 broadcastTo ? std::vector{*broadcastTo} : interfaceBroadcasts()) {
                const sockaddr_in to = socketAddress({target, ed::kBroadcastPort});
                ::sendto(status.get(), bytes.data(), bytes.size(), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
            nextBroadcast += std::chrono::seconds(1);
        }
        for (;;) {
            const int accepted =
                ::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (accepted < 0) {
                break;
            }
            if (client.get() >= 0) {
                ::close(accepted); // one client at a time
                ++dac.counts.rejected;
                continue;
            }
            client.reset(accepted);
            ::setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ++dac.counts.connections;
            input.clear();
            output.clear();
            respond(static_cast<std::uint8_t>(ed::Reply::ack), 0x3F); // the greeting
            line("connected");
        }
        if (client.get() >= 0) {
            std::array<std::byte, 16384> chunk{};
            bool closed = false;
            for (;;) {
                const ssize_t n = ::recv(client.get(), chunk.data(), chunk.size(), MSG_DONTWAIT);
                if (n > 0) {
                    input.insert(input.end(), chunk.begin(), chunk.begin() + n);
                    continue;
                }
                closed = n == 0 || (errno != EAGAIN && errno != EINTR);
                break;
            }
            std::size_t at = 0;
            while (at < input.size()) {
                const std::span<const std::byte> rest(input.data() + at, input.size() - at);
                const std::size_t length = Dac::length(rest);
                if (length == 0) {
                    break;
                }
                const auto command = std::to_integer<std::uint8_t>(rest[0]);
                const std::optional<std::uint8_t> reply =
                    dac.handle(command, rest.subspan(1, length - 1), now);
                at += length;
                if (!reply) {
                    closed = true;
                    break;
                }
                respond(*reply, command);
            }
            input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(at));
            while (!output.empty() && !closed) {
                const ssize_t n =
                    ::send(client.get(), output.data(), output.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n <= 0) {
                    break;
                }
                output.erase(output.begin(), output.begin() + n);
            }
            if (closed) {
                client.reset();
                dac.disconnected();
                line("disconnected");
            }
        }
        if (settings.progress && now >= nextProgress) {
            char text[160];
            std::snprintf(text, sizeof text, "progress %.3f %llu %llu %llu %llu %llu", seconds,
                          static_cast<unsigned long long>(dac.counts.writes),
                          static_cast<unsigned long long>(dac.counts.begins),
                          static_cast<unsigned long long>(dac.counts.points),
                          static_cast<unsigned long long>(dac.counts.underruns),
                          static_cast<unsigned long long>(dac.counts.dropped));
            line(text);
            nextProgress += std::chrono::seconds(1);
        }
        if (settings.seconds > 0.0 && seconds >= settings.seconds) {
            break;
        }
    }
    dac.advance(Clock::now(), false);
    const Counts& c = dac.counts;
    const std::pair<const char*, std::uint64_t> lines[] = {
        {"writes", c.writes},
        {"begins", c.begins},
        {"points", c.points},
        {"underruns", c.underruns},
        {"dropped", c.dropped},
        {"malformed", c.malformed},
        {"nak_invalid", c.nakInvalid},
        {"prepares", c.prepares},
        {"stops_acknowledged", c.stops},
        {"stopped_at_us", static_cast<std::uint64_t>(c.stoppedAtUs)},
        {"playing_at_exit", dac.playing() ? 1U : 0U},
        {"last_sample_lit", dac.lastLit() ? 1U : 0U},
        {"lit_starved_ms",
         static_cast<std::uint64_t>(
             std::chrono::duration_cast<std::chrono::milliseconds>(c.litStarved).count())},
        {"largest_write", c.largestWrite},
        {"max_samples_100ms", c.maxIn100ms},
        {"connections", c.connections},
        {"rejected", c.rejected},
    };
    for (const auto& [name, value] : lines) {
        std::printf("%s %llu\n", name, static_cast<unsigned long long>(value));
    }
    std::fflush(stdout);
    return 0;
}

} // namespace lumarok::cube
