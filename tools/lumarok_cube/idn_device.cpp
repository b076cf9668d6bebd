// The virtual IDN unit: answers scans, service-map requests and pings on UDP 7255, takes
// one client's realtime channel and plays its wave chunks back to back in real time. It
// holds the stream to the strict reading of the facts: a channel opens only with a
// configuration whose routing bit is set, the configuration must be the 8-octet XYRGBI
// one, a chunk's data match must equal the configuration's, timestamps must chain on the
// durations (an earlier one is dropped), a chunk lasts at least 200 µs, and the total
// size must match the datagram. It answers acknowledgements with the 12-octet form.
#include "idn_device.hpp"

#include "laser/idn_protocol.hpp"
#include "net/ipv4_address.hpp"
#include "tool_options.hpp"
#include "tool_socket.hpp"

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

#include <time.h>
#include <unistd.h>

namespace lumarok::cube {

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t gEnd = 0;
extern "C" void requestIdnEnd(int) {
    gEnd = 1;
}

constexpr std::array<std::uint16_t, 8> kXyrgbi{0x4200, 0x4010, 0x4210, 0x4010,
                                               0x527E, 0x5214, 0x51CC, 0x5C10};
constexpr auto kChannelTimeout = std::chrono::seconds(1);

struct Settings {
    std::string address;
    std::string name = "lumarok-idn";
    bool occupied = false;
    double seconds = 0.0;
    bool progress = false;
    std::string litLog; // when a lit sample follows at least 5 ms of dark ones
};

double number(const std::string& option, const std::string& text) {
    std::size_t used = 0;
    double value = -1.0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || !(value >= 0.0 && value <= 1e7)) {
        throw std::invalid_argument(option + " wants a number of seconds, not '" + text + "'");
    }
    return value;
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
        } else if (option == "--name") {
            s.name = value();
        } else if (option == "--occupied") {
            s.occupied = true;
        } else if (option == "--seconds") {
            s.seconds = number(option, value());
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

std::uint16_t get16(std::span<const std::byte> in, std::size_t at) {
    return static_cast<std::uint16_t>((std::to_integer<unsigned>(in[at]) << 8U) |
                                      std::to_integer<unsigned>(in[at + 1]));
}

std::uint32_t get32(std::span<const std::byte> in, std::size_t at) {
    return (static_cast<std::uint32_t>(get16(in, at)) << 16U) | get16(in, at + 2);
}

void put16(std::span<std::byte> out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::byte>(v >> 8U);
    out[at + 1] = static_cast<std::byte>(v & 0xFFU);
}

void line(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

struct Counts {
    std::uint64_t messages = 0, chunks = 0, samples = 0, underruns = 0, malformed = 0,
                  timestampErrors = 0, configErrors = 0, unrouted = 0, acks = 0, scans = 0,
                  refused = 0, maxIn100ms = 0, closedByFlag = 0, timeouts = 0;
    Clock::duration litStarved{};
};

} // namespace

int runIdn(const std::vector<std::string>& arguments) {
    if (std::find(arguments.begin(), arguments.end(), "--help") != arguments.end()) {
        std::fputs(
            "usage: lumarok-cube --kind idn [options]\n"
            "A virtual IDN unit with one laser service on UDP 7255: answers scans, service\n"
            "maps and pings, takes one client's realtime channel and plays it in real time.\n"
            "  --address ADDR   own IPv4 address to bind (default: all)\n"
            "  --name NAME      host name in scan answers (lumarok-idn)\n"
            "  --occupied       say all sessions are occupied and refuse every stream\n"
            "  --lit-log PATH   the time (steady clock, s) of every lit sample played after\n"
            "                   at least 5 ms of dark ones, one a line\n"
            "  --seconds S      stop after S seconds (default: at SIGINT or SIGTERM)\n"
            "  --progress       print 'progress SECONDS messages chunks samples underruns\n"
            "                   malformed' every second\n"
            "On exit it prints counts, one per line (faults: malformed, timestamp_errors,\n"
            "config_errors, unrouted; channel_closed when closed by its flag, open_at_exit,\n"
            "last_sample_lit, lit_starved_ms).\n",
            stdout);
        return 0;
    }
    const Settings settings = parse(arguments);
    const Ipv4Address own = settings.address.empty()
                                ? kAnyAddress
                                : tools::addressOption("--address", settings.address);
    struct sigaction action {};
    action.sa_handler = requestIdnEnd;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    const tools::ToolSocket socket({own, idn::kPort}, false, true);
    Counts c;
    std::FILE* litLog = nullptr;
    double darkUs = 0.0;
    if (!settings.litLog.empty() &&
        (litLog = std::fopen(settings.litLog.c_str(), "w")) == nullptr) {
        throw std::runtime_error("cannot write " + settings.litLog);
    }
    Ipv4Endpoint client; // the one session, while hasClient
    bool hasClient = false;
    bool channelOpen = false;
    std::uint8_t dataMatch = 0;
    std::uint32_t expected = 0; // the next chunk's timestamp, while chained
    bool chained = false;
    Clock::time_point playsUntil{};
    Clock::time_point lastMessage{};
    bool lastLit = false;
    bool lastPlayedLit = false;
    bool everPlayed = false;
    std::uint16_t newConnection = 0;
    std::deque<std::pair<Clock::time_point, std::size_t>> window;
    std::uint64_t inWindow = 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point nextProgress = start + std::chrono::seconds(1);
    std::array<std::byte, 65536> buffer{};
    line("listening idn");

    const auto reply = [&](Ipv4Endpoint to, std::span<const std::byte> bytes) {
        (void)socket.sendTo(to, bytes);
    };
    const auto acknowledge = [&](Ipv4Endpoint to, std::uint16_t sequence, std::uint8_t result) {
        std::array<std::byte, 16> ack{};
        ack[0] = static_cast<std::byte>(idn::Hello::acknowledge);
        put16(ack, 2, sequence);
        ack[4] = std::byte{12};
        ack[5] = static_cast<std::byte>(result);
        put16(ack, 6, newConnection);
        ack[12] = std::byte{static_cast<unsigned char>(channelOpen ? 1 : 0)};
        newConnection = 0;
        reply(to, ack);
        ++c.acks;
    };
    // Plays on to `now`: a channel open with nothing left to play ran dry.
    const auto starveCheck = [&](Clock::time_point now) {
        if (channelOpen && everPlayed && now > playsUntil && lastPlayedLit) {
            c.litStarved += now - playsUntil;
            playsUntil = now;
        }
    };
    const auto closeChannel = [&] {
        channelOpen = false;
        chained = false;
        everPlayed = false;
    };
    while (gEnd == 0) {
        const timespec tick{0, 1'000'000};
        ::clock_nanosleep(CLOCK_MONOTONIC, 0, &tick, nullptr);
        for (;;) {
            const std::optional<tools::ToolDatagram> heard = socket.receive(buffer);
            if (!heard) {
                break;
            }
            const Ipv4Endpoint from = heard->source;
            const Clock::time_point now = Clock::now();
            const std::span<const std::byte> got(buffer.data(), heard->length);
            if (got.size() < idn::kHelloBytes) {
                ++c.malformed;
                continue;
            }
            const auto command = std::to_integer<std::uint8_t>(got[0]);
            const std::uint16_t sequence = get16(got, 2);
            const bool ours = hasClient && client == from;
            std::array<std::byte, 128> out{};
            switch (command) {
            case 0x08: { // ping: the payload back
                std::vector<std::byte> pong(got.begin(), got.end());
                pong[0] = static_cast<std::byte>(idn::Hello::pingResponse);
                reply(from, pong);
                continue;
            }
            case 0x10: { // scan
                ++c.scans;
                idn::writeHello(out, idn::Hello::scanResponse, sequence);
                const std::span<std::byte> body = std::span(out).subspan(4, 40);
                body[0] = std::byte{40};
                body[1] = std::byte{0x01};
                std::uint8_t status = idn::kRealtime;
                if (settings.occupied || (hasClient && !ours)) {
                    status |= idn::kOccupied;
                }
                body[2] = static_cast<std::byte>(status);
                body[4] = std::byte{7};
                body[5] = std::byte{0x01};
                for (std::size_t i = 0; i < 6; ++i) {
                    body[6 + i] = static_cast<std::byte>(0x10 + i);
                }
                std::memcpy(body.data() + 20, settings.name.data(),
                            std::min<std::size_t>(20, settings.name.size()));
                reply(from, std::span(out).first(44));
                continue;
            }
            case 0x12: { // service map: one laser projector
                idn::writeHello(out, idn::Hello::serviceMapResponse, sequence);
                const std::array<int, 8> head{4, 24, 0, 1, 1, 0x80, 0x01, 0};
                for (std::size_t i = 0; i < head.size(); ++i) {
                    out[4 + i] = static_cast<std::byte>(head[i]);
                }
                std::memcpy(out.data() + 12, "laser", 5);
                reply(from, std::span(out).first(4 + 4 + 24));
                continue;
            }
            case 0x40:
            case 0x41:
            case 0x44:
            case 0x45:
                break;
            default:
                continue;
            }
            const bool wantsAck = command == 0x41 || command == 0x45;
            if (settings.occupied || (hasClient && !ours)) {
                ++c.refused;
                if (wantsAck) {
                    acknowledge(from, sequence, 0xEC);
                }
                continue;
            }
            if (!hasClient) {
                client = from;
                hasClient = true;
                newConnection = 0x0001;
                line("connected");
            }
            lastMessage = now;
            ++c.messages;
            const std::span<const std::byte> message = got.subspan(idn::kHelloBytes);
            if (!message.empty()) {
                if (message.size() < idn::kChannelHeaderBytes ||
                    get16(message, 0) != message.size()) {
                    ++c.malformed;
                } else {
                    const std::uint16_t content = get16(message, 2);
                    const std::uint8_t chunkType = content & 0xFFU;
                    const bool configFollows = (content & 0x4000U) != 0;
                    const std::uint32_t timestamp = get32(message, 4);
                    std::size_t at = idn::kChannelHeaderBytes;
                    bool closing = false;
                    bool usable = (content & 0x8000U) != 0;
                    if (usable && configFollows && at + 4 <= message.size()) {
                        const std::size_t words = std::to_integer<std::size_t>(message[at]);
                        const auto flags = std::to_integer<std::uint8_t>(message[at + 1]);
                        const bool routing = (flags & 0x01U) != 0;
                        closing = (flags & 0x02U) != 0;
                        std::vector<std::uint16_t> tags;
                        for (std::size_t i = 0;
                             i < words * 2 && at + 4 + i * 2 + 2 <= message.size(); ++i) {
                            tags.push_back(get16(message, at + 4 + i * 2));
                        }
                        at += 4 + words * 4;
                        if (closing) {
                            ++c.closedByFlag;
                        } else if (!routing) {
                            ++c.unrouted; // applied only with routing
                        } else if (!std::equal(tags.begin(), tags.end(), kXyrgbi.begin(),
                                               kXyrgbi.end())) {
                            ++c.configErrors;
                        } else {
                            if (!channelOpen) {
                                chained = false;
                            }
                            channelOpen = true;
                            dataMatch = static_cast<std::uint8_t>((flags >> 4U) & 0x3U);
                        }
                    }
                    if (usable && chunkType == 0x01 && !closing) {
                        if (!channelOpen) {
                            ++c.unrouted;
                        } else if (at + 4 > message.size()) {
                            ++c.malformed;
                        } else {
                            const std::uint32_t header = get32(message, at);
                            const std::uint32_t duration = header & 0xFFFFFFU;
                            const std::size_t dataBytes = message.size() - at - 4;
                            const std::size_t samples = dataBytes / idn::kSampleBytes;
                            if (((header >> 28U) & 0x3U) != dataMatch) {
                                ++c.configErrors;
                            } else if (dataBytes % idn::kSampleBytes != 0 || samples == 0 ||
                                       duration < 200) {
                                ++c.malformed;
                            } else if (chained &&
                                       static_cast<std::int32_t>(timestamp - expected) < 0) {
                                ++c.timestampErrors; // earlier than the chain: dropped
                            } else {
                                ++c.chunks;
                                c.samples += samples;
                                expected = timestamp + duration;
                                chained = true;
                                window.emplace_back(now, samples);
                                inWindow += samples;
                                while (now - window.front().first >
                                       std::chrono::milliseconds(100)) {
                                    inWindow -= window.front().second;
                                    window.pop_front();
                                }
                                c.maxIn100ms = std::max<std::uint64_t>(c.maxIn100ms, inWindow);
                                if (everPlayed && now > playsUntil + std::chrono::milliseconds(2)) {
                                    ++c.underruns;
                                }
                                starveCheck(now);
                                const Clock::time_point begins = std::max(now, playsUntil);
                                if (litLog != nullptr) {
                                    const double startsAt =
                                        std::chrono::duration<double>(begins.time_since_epoch())
                                            .count();
                                    for (std::size_t i = 0; i < samples; ++i) {
                                        const std::size_t o = at + 4 + i * idn::kSampleBytes + 4;
                                        const bool lit = message[o] != std::byte{0} ||
                                                         message[o + 1] != std::byte{0} ||
                                                         message[o + 2] != std::byte{0};
                                        if (lit && darkUs >= 5000.0) {
                                            std::fprintf(litLog, "%.6f\n",
                                                         startsAt +
                                                             1e-6 * duration *
                                                                 static_cast<double>(i) /
                                                                 static_cast<double>(samples));
                                        }
                                        darkUs = lit ? 0.0
                                                     : darkUs + static_cast<double>(duration) /
                                                                    static_cast<double>(samples);
                                    }
                                }
                                playsUntil = begins + std::chrono::microseconds(duration);
                                everPlayed = true;
                                const std::span<const std::byte> last =
                                    message.subspan(message.size() - idn::kSampleBytes + 4, 3);
                                lastLit = last[0] != std::byte{0} || last[1] != std::byte{0} ||
                                          last[2] != std::byte{0};
                                lastPlayedLit = lastLit;
                            }
                        }
                    }
                    if (closing) {
                        starveCheck(now);
                        closeChannel();
                        line("channel closed");
                    }
                }
            }
            if (wantsAck) {
                acknowledge(from, sequence, 0x00);
            }
            if (command == 0x44 || command == 0x45) {
                hasClient = false;
                closeChannel();
                line("disconnected");
            }
        }
        const Clock::time_point now = Clock::now();
        if (hasClient && now - lastMessage > kChannelTimeout) {
            starveCheck(lastMessage + kChannelTimeout);
            ++c.timeouts;
            hasClient = false;
            closeChannel();
            line("timed out");
        }
        const double seconds = std::chrono::duration<double>(now - start).count();
        if (settings.progress && now >= nextProgress) {
            char text[160];
            std::snprintf(text, sizeof text, "progress %.3f %llu %llu %llu %llu %llu", seconds,
                          static_cast<unsigned long long>(c.messages),
                          static_cast<unsigned long long>(c.chunks),
                          static_cast<unsigned long long>(c.samples),
                          static_cast<unsigned long long>(c.underruns),
                          static_cast<unsigned long long>(c.malformed));
            line(text);
            nextProgress += std::chrono::seconds(1);
        }
        if (settings.seconds > 0.0 && seconds >= settings.seconds) {
            break;
        }
    }
    if (hasClient) {
        starveCheck(std::min(Clock::now(), lastMessage + kChannelTimeout));
    }
    if (litLog != nullptr) {
        std::fclose(litLog);
    }
    const std::pair<const char*, std::uint64_t> lines[] = {
        {"messages", c.messages},
        {"chunks", c.chunks},
        {"samples", c.samples},
        {"underruns", c.underruns},
        {"malformed", c.malformed},
        {"timestamp_errors", c.timestampErrors},
        {"config_errors", c.configErrors},
        {"unrouted", c.unrouted},
        {"acks", c.acks},
        {"scans", c.scans},
        {"refused", c.refused},
        {"channel_closed", c.closedByFlag},
        {"timeouts", c.timeouts},
        {"open_at_exit", hasClient ? 1U : 0U},
        {"last_sample_lit", lastLit ? 1U : 0U},
        {"lit_starved_ms",
         static_cast<std::uint64_t>(
             std::chrono::duration_cast<std::chrono::milliseconds>(c.litStarved).count())},
        {"max_samples_100ms", c.maxIn100ms},
    };
    for (const auto& [name, value] : lines) {
        std::printf("%s %llu\n", name, static_cast<unsigned long long>(value));
    }
    std::fflush(stdout);
    return 0;
}

} // namespace lumarok::cube
