// lumarok-cube: a virtual projector on UDP ports 45457 and 45458. It answers only by
// unicast to whoever asked, so it never broadcasts. By default it holds the player to
// the protocol's ports: it heeds only datagrams sent from port 45457 and sends its
// answers and reports to port 45457; --lenient heeds any port and answers to the port
// a datagram came from.
#include "cube_options.hpp"
#include "etherdream_device.hpp"
#include "frame_picture.hpp"
#include "frame_signature.hpp"
#include "idn_device.hpp"
#include "tool_socket.hpp"
#include "virtual_projector.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <ifaddrs.h>
#include <net/if.h>
#include <time.h>

namespace lumarok::cube {

namespace {

constexpr std::uint16_t kCommandPort = 45457;
constexpr std::uint16_t kDataPort = 45458;
using Clock = VirtualProjector::Clock;
using tools::ToolDatagram;
using tools::ToolSocket;

volatile std::sig_atomic_t gStop = 0;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

extern "C" void requestStop(int) {
    gStop = 1;
}

void line(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void writeFrame(std::ofstream& out, const VirtualProjector::Frame& frame) {
    const double received =
        std::chrono::duration<double>(frame.firstPacket.time_since_epoch()).count();
    std::string text;
    text.reserve(frame.samples.size() * 28 + 64);
    char head[96];
    std::snprintf(head, sizeof head, "{\"frame\":%u,\"received\":%.6f,\"samples\":[",
                  static_cast<unsigned>(frame.frameCounter), received);
    text += head;
    char item[48];
    for (std::size_t i = 0; i < frame.samples.size(); ++i) {
        const LaserSample& s = frame.samples[i];
        std::snprintf(item, sizeof item, "%s[%u,%u,%u,%u,%u]", i == 0 ? "" : ",", s.x, s.y, s.r,
                      s.g, s.b);
        text += item;
    }
    text += "]}\n";
    out << text;
    out.flush();
}

// The index of the interface that holds `own`; throws when none does.
int interfaceHolding(Ipv4Address own) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        throw std::system_error(errno, std::system_category(), "cannot list interfaces");
    }
    int index = 0;
    for (const ifaddrs* a = list; a != nullptr && index == 0; a = a->ifa_next) {
        if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET &&
            addressOf(a->ifa_addr) == own) {
            index = static_cast<int>(::if_nametoindex(a->ifa_name));
        }
    }
    ::freeifaddrs(list);
    if (index == 0) {
        throw std::runtime_error("no interface has the address " + own.text());
    }
    return index;
}

int run(const Options& options) {
    // With an own address: unicast reaches only the sockets bound to it, and a second
    // socket on the wildcard address hears broadcasts, which every projector sharing
    // the port gets.
    const Ipv4Address own = options.address.value_or(kAnyAddress);
    const bool shared = options.address.has_value();
    const int ownInterface = shared ? interfaceHolding(own) : 0;
    ToolSocket command({own, kCommandPort}, shared, false);
    ToolSocket data({own, kDataPort}, shared, false);
    std::optional<ToolSocket> broadcasts;
    if (shared) {
        // The interface a broadcast came in on.
        command.hearInterfaces();
        data.hearInterfaces();
        broadcasts.emplace(Ipv4Endpoint{kAnyAddress, kCommandPort}, true, false);
        broadcasts->hearInterfaces();
    }
    data.stampArrivals();
    command.stampArrivals();
    VirtualProjector projector(options.projector, options.lies);

    const Clock::time_point start = Clock::now();
    std::ofstream dump;
    if (!options.dump.empty()) {
        dump.open(options.dump);
        if (!dump) {
            throw std::runtime_error("cannot write " + options.dump);
        }
    }
    std::unique_ptr<std::FILE, FileCloser> frameLogFile;
    if (!options.frameLog.empty()) {
        frameLogFile.reset(std::fopen(options.frameLog.c_str(), "w"));
        if (!frameLogFile) {
            throw std::runtime_error("cannot write " + options.frameLog);
        }
    }
    std::FILE* const frameLog = frameLogFile.get();
    int dumped = 0;
    std::uint64_t outOfRange = 0;
    projector.onFrame([&](const VirtualProjector::Frame& frame) {
        for (const LaserSample& s : frame.samples) {
            if (std::max({s.x, s.y, s.r, s.g, s.b}) > 4095) {
                ++outOfRange;
            }
        }
        if (frameLog != nullptr) {
            // Where the light starts: the index and position of the first lit sample.
            const auto lit =
                std::find_if(frame.samples.begin(), frame.samples.end(),
                             [](const LaserSample& s) { return (s.r | s.g | s.b) != 0; });
            const LaserSample first = lit != frame.samples.end() ? *lit : LaserSample{};
            std::fprintf(
                frameLog, "%u %.6f %zu %016llx %.6f %td %u %u\n",
                static_cast<unsigned>(frame.frameCounter),
                std::chrono::duration<double>(frame.firstPacket.time_since_epoch()).count(),
                frame.samples.size(), static_cast<unsigned long long>(litSignature(frame.samples)),
                std::chrono::duration<double>(frame.firstPlayed.time_since_epoch()).count(),
                lit != frame.samples.end() ? lit - frame.samples.begin() : std::ptrdiff_t{-1},
                static_cast<unsigned>(first.x), static_cast<unsigned>(first.y));
        }
        const std::chrono::duration<double> since = Clock::now() - start;
        if (dump.is_open() && dumped < options.dumpFrames && since.count() >= options.dumpAfter) {
            writeFrame(dump, frame);
            ++dumped;
        }
    });

    std::optional<Ipv4Endpoint> client;
    Clock::time_point switchedOffAt{};
    bool switchedOn = false;
    std::uint64_t discoveryRequests = 0;
    std::uint64_t informationRequests = 0; // requests while streaming to the one asking
    std::uint64_t reportFailures = 0;
    std::uint64_t foreignPort = 0;
    bool announcedSilence = false;
    const auto reportInterval = std::chrono::milliseconds(options.reportMilliseconds);
    Clock::time_point nextReport = start;
    Clock::time_point nextInfo = start;
    Clock::time_point nextProgress = start + std::chrono::seconds(1);
    std::array<std::byte, 2048> buffer{};
    line("listening " + options.projector.name);

    const auto isRequest = [&](const ToolDatagram& got) {
        return got.length == 1 && buffer[0] == std::byte{0x77};
    };
    // Strict: a player speaks from its command port and hears there; anything else is
    // counted and left alone.
    const auto heeded = [&](const ToolDatagram& got) {
        if (options.lenient || got.source.port == kCommandPort) {
            return true;
        }
        ++foreignPort;
        return false;
    };
    const auto replyTo = [&](Ipv4Endpoint source) {
        return options.lenient ? source : Ipv4Endpoint{source.address, kCommandPort};
    };
    const auto answerRequest = [&](const ToolDatagram& got) {
        // From the player it streams from: a question about its state, not a search.
        const bool asking =
            projector.streaming() && client && client->address == got.source.address;
        ++(asking ? informationRequests : discoveryRequests);
        client = replyTo(got.source);
        const std::vector<std::byte> answer =
            projector.deviceInfo(shared ? own : tools::ownAddressFacing(got.source));
        (void)command.sendTo(*client, answer);
        if (!asking) {
            line("discovery from " + got.source.address.text());
        }
    };
    while (gStop == 0) {
        // A tick, not a wait on the sockets: every datagram carries the time it
        // arrived, and a projector woken by each packet would make the player pay for
        // the wake-up (on a veth pair the receive runs inside the sender's send),
        // which a projector on a wire never costs it.
        const timespec tick{0, 1'000'000};
        ::clock_nanosleep(CLOCK_MONOTONIC, 0, &tick, nullptr);
        Clock::time_point now = Clock::now();
        while (broadcasts) {
            const std::optional<ToolDatagram> got = broadcasts->receive(buffer);
            if (!got) {
                break;
            }
            // A broadcast that came in on another interface was not meant for us.
            if (isRequest(*got) && got->interfaceIndex == ownInterface && heeded(*got)) {
                answerRequest(*got);
            }
        }
        // Samples before commands: a switch-off must not find samples that came
        // before it still unread, which would look like a buffer run dry.
        while (const std::optional<ToolDatagram> got = data.receive(buffer)) {
            if (!heeded(*got)) {
                continue;
            }
            projector.handleSampleData(std::span<const std::byte>(buffer.data(), got->length),
                                       got->arrival);
            client = replyTo(got->source);
        }
        while (const std::optional<ToolDatagram> got = command.receive(buffer)) {
            if (!heeded(*got)) {
                continue;
            }
            const std::span<const std::byte> bytes(buffer.data(), got->length);
            if (isRequest(*got)) {
                answerRequest(*got);
                continue;
            }
            const std::string switched = projector.handleCommand(bytes, got->arrival);
            if (!switched.empty()) {
                client = replyTo(got->source);
                switchedOn = switched.ends_with(" on");
                if (!switchedOn) {
                    switchedOffAt = got->arrival;
                }
                line(switched);
            }
        }
        now = Clock::now();
        projector.advance(now);
        const bool silent =
            options.silentAfter >= 0.0 &&
            std::chrono::duration<double>(now - start).count() >= options.silentAfter;
        if (silent && !announcedSilence) {
            announcedSilence = true;
            line("reports stopped");
        }
        if (!silent && client && (switchedOn || projector.streaming()) && now >= nextReport) {
            const std::vector<std::byte> report = projector.bufferFreeReport();
            for (int i = 0; i < options.reportBurst; ++i) {
                if (!command.sendTo(*client, report)) {
                    ++reportFailures;
                }
            }
            nextReport = now + reportInterval;
        }
        if (options.infoEveryMs > 0 && client && switchedOn && now >= nextInfo) {
            std::vector<std::byte> info = projector.deviceInfo(tools::ownAddressFacing(*client));
            if (options.infoBytes > 0) {
                info.resize(std::min(info.size(), static_cast<std::size_t>(options.infoBytes)));
            }
            (void)command.sendTo(*client, info);
            nextInfo = now + std::chrono::milliseconds(options.infoEveryMs);
        }
        if (options.progress && now >= nextProgress) {
            const VirtualProjector::Counts& c = projector.counts();
            char text[160];
            std::snprintf(text, sizeof text, "progress %.3f %llu %llu %llu %llu %llu",
                          std::chrono::duration<double>(now - start).count(),
                          static_cast<unsigned long long>(c.packets),
                          static_cast<unsigned long long>(c.frames),
                          static_cast<unsigned long long>(c.samples),
                          static_cast<unsigned long long>(c.underruns),
                          static_cast<unsigned long long>(c.overflows));
            line(text);
            nextProgress += std::chrono::seconds(1);
        }
        if (options.seconds > 0.0 &&
            std::chrono::duration<double>(now - start).count() >= options.seconds) {
            break;
        }
    }

    projector.settle(Clock::now());
    const VirtualProjector::Counts& counts = projector.counts();
    const std::pair<const char*, std::uint64_t> lines[] = {
        {"packets", counts.packets},
        {"frames", counts.frames},
        {"samples", counts.samples},
        {"underruns", counts.underruns},
        {"overflows", counts.overflows},
        {"dropped_samples", counts.droppedSamples},
        {"malformed", counts.malformed},
        {"message_gaps", counts.messageGaps},
        {"frame_gaps", counts.frameGaps},
        {"switch_commands", counts.switchCommands},
        {"discovery_requests", discoveryRequests},
        {"information_requests", informationRequests},
        {"report_failures", reportFailures},
        {"out_of_range_samples", outOfRange},
        {"last_sample_lit", projector.lastSampleLit() ? 1u : 0u},
        {"switched_off_at_us",
         static_cast<std::uint64_t>(
             std::chrono::duration_cast<std::chrono::microseconds>(switchedOffAt.time_since_epoch())
                 .count())},
        {"lit_starved_ms",
         static_cast<std::uint64_t>(
             std::chrono::duration_cast<std::chrono::milliseconds>(counts.litStarved).count())},
        {"largest_burst", projector.arrivals().largestBurst()},
        {"max_samples_100ms", projector.arrivals().maxSamplesInWindow()},
        {"foreign_port", foreignPort},
    };
    for (const auto& [name, value] : lines) {
        std::printf("%s %llu\n", name, static_cast<unsigned long long>(value));
    }
    std::fflush(stdout);
    if (!options.picture.empty()) {
        writeFramePicture(projector.lastFrame(), options.picture);
    }
    return 0;
}

} // namespace

} // namespace lumarok::cube

int main(int argc, char** argv) {
    using namespace lumarok::cube;
    try {
        std::vector<std::string> arguments(argv + 1, argv + argc);
        // The other kinds are programs of their own with their own options.
        const auto kindAt = std::find(arguments.begin(), arguments.end(), "--kind");
        if (kindAt != arguments.end()) {
            if (kindAt + 1 == arguments.end()) {
                throw std::invalid_argument("--kind needs a value");
            }
            const std::string kind = *(kindAt + 1);
            arguments.erase(kindAt, kindAt + 2);
            if (kind == "etherdream") {
                return runEtherDream(arguments);
            }
            if (kind == "idn") {
                return runIdn(arguments);
            }
            if (kind != "lasercube") {
                throw std::invalid_argument("--kind takes lasercube, etherdream or idn, not '" +
                                            kind + "'");
            }
        }
        const Options options = parseOptions(arguments);
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
        std::fprintf(stderr, "lumarok-cube: %s\n%s", error.what(), kUsage);
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok-cube: %s\n", error.what());
        return 1;
    }
}
