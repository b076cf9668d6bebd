#include "laser/idn_link.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumarok {

namespace {

using Clock = std::chrono::steady_clock;

// How far ahead of its playing the stream is kept, and the reserve a frame waits at
// (as long as a LaserCube's, so that projectors of every kind play one frame together).
constexpr double kLeadSeconds = 0.080;
constexpr double kReserveSeconds = 0.050;
constexpr auto kConfigurationEvery = std::chrono::milliseconds(250);
constexpr auto kAcknowledgementEvery = std::chrono::milliseconds(250);
constexpr auto kLongestWait = std::chrono::milliseconds(20);
// Samples in a datagram: the header, channel message, configuration and chunk headers
// and the samples within 1454 octets.
constexpr std::size_t kChunkSamples = (idn::kMaxPayload - 4 - 8 - 20 - 4) / idn::kSampleBytes;

std::uint64_t microseconds(Clock::time_point at) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count());
}

const char* refusal(std::int8_t result) {
    switch (static_cast<std::uint8_t>(result)) {
    case 0xEB:
        return "an empty close without connection";
    case 0xEC:
        return "all sessions occupied";
    case 0xED:
        return "client group excluded";
    case 0xEE:
        return "invalid payload";
    default:
        return "other error";
    }
}

} // namespace

std::string IdnFound::name() const {
    if (!unit.hostName.empty()) {
        return unit.hostName;
    }
    std::string text = "idn-";
    char part[4];
    for (const std::uint8_t b : unit.unitId) {
        std::snprintf(part, sizeof part, "%02x", b);
        text += part;
    }
    return text;
}

IdnLink::IdnLink(const IdnFound& found, std::uint32_t pointRate, EventLog& events,
                 std::uint16_t index)
    : log(events), stream(index),
      fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)), unitName(found.name()),
      unitAddress(found.source), serviceId(found.service.id),
      channel(static_cast<std::uint8_t>((found.service.id - 1) & 0x3F)), rate(pointRate),
      capacity(static_cast<std::int32_t>(kLeadSeconds * pointRate)),
      reserveSamples(static_cast<std::int32_t>(kReserveSeconds * pointRate)) {
    if (fd < 0) {
        throw std::system_error(errno, std::system_category(), "Error opening socket");
    }
    if (rate < 1000 || rate > 1'000'000) {
        ::close(fd);
        throw std::runtime_error("point rate " + std::to_string(rate) + " is out of range");
    }
    const sockaddr_in to = socketAddress({found.source, idn::kPort});
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        const int code = errno;
        ::close(fd);
        throw std::system_error(code, std::system_category(), "cannot reach the IDN unit");
    }
    receiveThread = std::thread(&IdnLink::receiveLoop, this);
}

IdnLink::~IdnLink() {
    (void)switchOff();
    ending.store(true);
    if (receiveThread.joinable()) {
        receiveThread.join();
    }
    ::close(fd);
}

bool IdnLink::sendDatagram(std::span<const std::byte> bytes) {
    if (::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
        static_cast<ssize_t>(bytes.size())) {
        messagesSent.fetch_add(1);
        sendFailing.store(false);
        return true;
    }
    sendFailing.store(true);
    return false;
}

std::int32_t IdnLink::queued(Clock::time_point now) const {
    const Clock::time_point until{Clock::duration(playsUntil.load())};
    if (until <= now) {
        return 0;
    }
    return static_cast<std::int32_t>(std::chrono::duration<double>(until - now).count() * rate);
}

bool IdnLink::sendChunks(std::span<const LaserSample> samples) {
    // A wave chunk lasts at least 200 µs: a short rest is split with the chunk before it.
    const auto fewest = static_cast<std::size_t>(std::max<std::uint32_t>(1, (rate + 4999) / 5000));
    std::array<LaserSample, 64> padded{};
    if (samples.size() < fewest && !samples.empty()) {
        const std::size_t count = std::min(fewest, padded.size());
        std::copy(samples.begin(), samples.end(), padded.begin());
        std::fill(padded.begin() + static_cast<std::ptrdiff_t>(samples.size()),
                  padded.begin() + static_cast<std::ptrdiff_t>(count), samples.back());
        samples = std::span<const LaserSample>(padded).first(count);
    }
    for (std::size_t at = 0; at < samples.size();) {
        const std::size_t left = samples.size() - at;
        std::size_t take = std::min(left, kChunkSamples);
        if (left > kChunkSamples && left < kChunkSamples + fewest) {
            take = left / 2;
        }
        const Clock::time_point now = Clock::now();
        if (Clock::time_point(Clock::duration(playsUntil.load())) <= now || !configured) {
            // The stream ran dry (or begins): the chain starts again at now, a gap the
            // unit takes.
            chainStart = now;
            chainStartUs = microseconds(now);
            chainSamples = 0;
        }
        const auto offset = [this](std::uint64_t count) {
            return (count * 1'000'000U + rate / 2) / rate;
        };
        const std::uint64_t begin = offset(chainSamples);
        const std::uint64_t end = offset(chainSamples + take);
        idn::WaveChunk chunk;
        chunk.channel = channel;
        chunk.serviceId = serviceId;
        chunk.withConfiguration = !configured || now - lastConfiguration >= kConfigurationEvery;
        chunk.timestamp = static_cast<std::uint32_t>(chainStartUs + begin);
        chunk.duration = static_cast<std::uint32_t>(end - begin);
        const std::size_t length = idn::writeWaveMessage(datagram, sequence.fetch_add(1), chunk,
                                                         samples.subspan(at, take));
        if (now - lastAckAsked >= kAcknowledgementEvery) {
            datagram[0] = static_cast<std::byte>(idn::Hello::channelMessageAck);
            lastAckAsked = now;
        }
        if (!sendDatagram(std::span(datagram).first(length))) {
            return false;
        }
        if (chunk.withConfiguration) {
            configured = true;
            lastConfiguration = now;
        }
        chainSamples += take;
        playsUntil.store((chainStart + std::chrono::microseconds(end)).time_since_epoch().count());
        samplesSent.fetch_add(take);
        at += take;
    }
    return true;
}

SendOutcome IdnLink::sendFrame(std::span<const LaserSample> samples, const StopFlags& stop,
                               FrameStart, std::size_t) {
    for (std::size_t at = 0; at < samples.size();) {
        if (refused.load()) {
            throw std::runtime_error("the unit refused the stream");
        }
        if (stop.raised()) {
            return SendOutcome::stopped;
        }
        const Clock::time_point now = Clock::now();
        const std::int32_t room = capacity - queued(now);
        const std::size_t take = std::min(samples.size() - at, kChunkSamples);
        if (room >= static_cast<std::int32_t>(take)) {
            // A failed send is a network that refuses the stream: tried again, paced.
            if (sendChunks(samples.subspan(at, take))) {
                at += take;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            continue;
        }
        const auto missing = static_cast<double>(static_cast<std::int32_t>(take) - room);
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(missing / rate)) +
                                          std::chrono::microseconds(100),
                                      kLongestWait));
    }
    return SendOutcome::sent;
}

bool IdnLink::sendUnpaced(std::span<const LaserSample> samples) {
    if (closed) {
        return false;
    }
    const std::int32_t room = capacity - queued(Clock::now());
    const std::size_t take = std::min(samples.size(), static_cast<std::size_t>(std::max(room, 0)));
    return take == 0 || sendChunks(samples.first(take));
}

bool IdnLink::switchOff() {
    if (closed) {
        return true;
    }
    std::array<std::byte, 32> bytes{};
    const std::size_t length =
        idn::writeCloseMessage(bytes, sequence.fetch_add(1), channel, serviceId);
    const bool channelClosed = sendDatagram(std::span(bytes).first(length));
    const std::size_t bare = idn::writeHello(bytes, idn::Hello::close, sequence.fetch_add(1));
    closed = sendDatagram(std::span(bytes).first(bare)) && channelClosed;
    return closed;
}

std::chrono::nanoseconds IdnLink::timeUntilQueued(std::int32_t samples) {
    const std::int32_t now = queued(Clock::now());
    if (now <= samples) {
        return std::chrono::nanoseconds{0};
    }
    return std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 * (now - samples) / rate));
}

std::int32_t IdnLink::queuedSamples() {
    return queued(Clock::now());
}

void IdnLink::askForInformation() {
    std::array<std::byte, idn::kHelloBytes> ping{};
    idn::writeHello(ping, idn::Hello::pingRequest, sequence.fetch_add(1));
    (void)::send(fd, ping.data(), ping.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void IdnLink::receiveLoop() {
    std::array<std::byte, 1500> buffer{};
    while (!ending.load()) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(kLongestWait.count())) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n <= 0) {
            continue;
        }
        const std::span<const std::byte> got(buffer.data(), static_cast<std::size_t>(n));
        const auto command = std::to_integer<std::uint8_t>(got[0]);
        if (command == static_cast<std::uint8_t>(idn::Hello::pingResponse)) {
            heard.fetch_add(1);
        } else if (const std::optional<idn::Acknowledgement> ack = idn::readAcknowledgement(got)) {
            heard.fetch_add(1);
            if (ack->result < 0 && !refused.exchange(true)) {
                LogEvent event;
                event.kind = StreamEvent::deviceRefused;
                event.stream = stream;
                event.setText(refusal(ack->result));
                log.post(event);
            }
        }
    }
}

LinkStats IdnLink::stats() const {
    LinkStats s;
    s.samplesSent = samplesSent.load();
    s.packetsSent = messagesSent.load();
    s.deviceReports = heard.load();
    s.datagramsHeard = heard.load();
    s.bufferFree = capacity - queued(Clock::now());
    s.bufferMax = capacity;
    s.sampleRate = static_cast<std::int32_t>(rate);
    s.sendFailing = sendFailing.load();
    return s;
}

} // namespace lumarok
