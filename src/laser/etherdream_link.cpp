#include "laser/etherdream_link.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumarok {

namespace ed = etherdream;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kConnectTimeout = std::chrono::seconds(2);
constexpr auto kAnswerTimeout = std::chrono::seconds(2);
// The longest single wait of the sending thread, so that a stop is seen in time.
constexpr auto kLongestWait = std::chrono::milliseconds(20);
// Points kept free below the DAC's capacity, for what the estimate may miss.
constexpr std::int32_t kHeadroom = 100;
// Room kept above the reserve for the writes that fill the buffer.
constexpr std::int32_t kFillRoom = 300;
// The time a frame waits at the reserve before it plays: as long as a LaserCube's, so
// that projectors of both kinds fed one frame play it together.
constexpr auto kReserveTime = std::chrono::milliseconds(50);
// Above the chosen rate, the wire may carry this share more (a DAC whose status lies
// about its buffer gets no more than that).
constexpr double kWireAllowance = 0.12;
// A DAC that stopped playing is started again at most this often.
constexpr auto kRestartEvery = std::chrono::milliseconds(200);
// A DAC that says it plays but whose point count stood still this long between its
// answers plays nothing: what it holds is not counted down.
constexpr auto kStandingStill = std::chrono::milliseconds(50);
// Answers the DAC may drop in a row under pressure (its backlog holds 24).
constexpr std::size_t kMostDroppedAnswers = 24;
// How long the stop waits for its answer when the link goes.
constexpr auto kStopAnswerWait = std::chrono::milliseconds(300);

// Waits for `events` on `fd` in slices, so that a stop is seen within 50 ms; false when
// the time ran out or the stop came first.
bool pollWithin(int fd, short events, Clock::time_point until, const StopFlags& stop) {
    for (;;) {
        if (stop.raised()) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd wait{fd, events, 0};
        if (::poll(&wait, 1, static_cast<int>(std::min<std::int64_t>(left, 50))) > 0) {
            return true;
        }
    }
}

int connectWithin(Ipv4Endpoint peer, std::chrono::milliseconds timeout, const StopFlags& stop) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::system_error(errno, std::system_category(), "Error opening socket");
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const sockaddr_in to = socketAddress(peer);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
        errno != EINPROGRESS) {
        const int code = errno;
        ::close(fd);
        throw std::system_error(code, std::system_category(), "cannot connect to the DAC");
    }
    int code = ETIMEDOUT;
    if (pollWithin(fd, POLLOUT, Clock::now() + timeout, stop)) {
        socklen_t size = sizeof code;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &size);
    }
    if (code != 0) {
        ::close(fd);
        throw std::system_error(code, std::system_category(), "cannot connect to the DAC");
    }
    return fd;
}

void sleepFor(Clock::duration duration) {
    if (duration > Clock::duration::zero()) {
        std::this_thread::sleep_for(duration);
    }
}

} // namespace

EtherDreamLink::EtherDreamLink(const EtherDreamFound& found, std::uint32_t pointRate,
                               EventLog& events, std::uint16_t index, const StopFlags& stop)
    : log(events), stream(index), starting(stop), deviceName(found.name()),
      deviceAddress(found.source), rate(pointRate), capacity(found.broadcast.bufferCapacity) {
    if (rate == 0 || rate > found.broadcast.maxPointRate) {
        throw std::runtime_error("point rate " + std::to_string(rate) + " is above the DAC's " +
                                 "maximum of " + std::to_string(found.broadcast.maxPointRate));
    }
    if (capacity < kFillRoom + 2 * static_cast<std::int32_t>(ed::kMaxPointsPerWrite)) {
        throw std::runtime_error("the DAC's buffer of " + std::to_string(capacity) +
                                 " points is too small to stream to");
    }
    const auto atReserve =
        static_cast<std::int32_t>(std::chrono::duration<double>(kReserveTime).count() * rate);
    reserveSamples = std::min(atReserve, capacity - kFillRoom);
    fd = connectWithin({found.source, ed::kCommandPort}, kConnectTimeout, starting);
    try {
        // It greets with its status; an e-stop is cleared and a stream left playing is
        // stopped before the DAC is prepared.
        ed::Status status = awaitResponse(kAnswerTimeout).status;
        if (status.lightEngine == static_cast<std::uint8_t>(ed::LightEngine::emergencyStop)) {
            commandAndWait(ed::Command::clearStop, kAnswerTimeout);
        }
        if (playback.load() != static_cast<std::uint8_t>(ed::Playback::idle)) {
            commandAndWait(ed::Command::stop, kAnswerTimeout);
        }
        commandAndWait(ed::Command::prepare, kAnswerTimeout);
        if (playback.load() != static_cast<std::uint8_t>(ed::Playback::prepared)) {
            throw std::runtime_error(std::string("the DAC does not prepare (light engine ") +
                                     ed::lightEngineName(lightEngine.load()) + ")");
        }
        creditAt = Clock::now();
        wireCredit = capacity;
        receiveThread = std::thread(&EtherDreamLink::receiveLoop, this);
    } catch (...) {
        ::close(fd);
        throw;
    }
}

EtherDreamLink::~EtherDreamLink() {
    // A DAC that closed the connection was told so already.
    if (!switchOff() && !connectionLost.load()) {
        LogEvent event;
        event.kind = StreamEvent::switchOffFailed;
        event.stream = stream;
        event.setText("the network refused it");
        log.post(event);
    }
    // The stop's answer, briefly: the DAC then has every command that came before it.
    const Clock::time_point until = Clock::now() + kStopAnswerWait;
    while (!connectionLost.load() && pendingTail.load() != pendingHead.load() &&
           Clock::now() < until) {
        sleepFor(std::chrono::milliseconds(2));
    }
    ending.store(true);
    if (receiveThread.joinable()) {
        receiveThread.join();
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

void EtherDreamLink::post(StreamEvent kind, const char* text, std::int64_t a) const {
    LogEvent event;
    event.kind = kind;
    event.stream = stream;
    event.a = a;
    event.setText(text);
    log.post(event);
}

ed::Response EtherDreamLink::awaitResponse(std::chrono::milliseconds timeout) {
    std::array<std::byte, ed::kResponseBytes> bytes{};
    std::size_t got = 0;
    const Clock::time_point until = Clock::now() + timeout;
    while (got < bytes.size()) {
        if (!pollWithin(fd, POLLIN, until, starting)) {
            throw std::runtime_error(starting.raised()
                                         ? std::string("stopped while the DAC was asked")
                                         : "the DAC did not answer within " +
                                               std::to_string(timeout.count()) + " ms");
        }
        const ssize_t n = ::recv(fd, bytes.data() + got, bytes.size() - got, MSG_DONTWAIT);
        if (n == 0) {
            throw std::runtime_error("the DAC closed the connection");
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::system_error(errno, std::system_category(), "reading from the DAC");
        }
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    const std::optional<ed::Response> response = ed::readResponse(bytes);
    if (!response) {
        throw std::runtime_error("the DAC's answer is no response");
    }
    fullness.store(response->status.bufferFullness);
    playback.store(response->status.playback);
    lightEngine.store(response->status.lightEngine);
    playbackFlags.store(response->status.playbackFlags);
    statusAt.store(Clock::now().time_since_epoch().count());
    progressAt.store(statusAt.load());
    responses.fetch_add(1);
    return *response;
}

void EtherDreamLink::commandAndWait(ed::Command command, std::chrono::milliseconds timeout) {
    const auto byte = static_cast<std::byte>(command);
    if (::send(fd, &byte, 1, MSG_NOSIGNAL) != 1) {
        throw std::system_error(errno, std::system_category(), "writing to the DAC");
    }
    const ed::Response response = awaitResponse(timeout);
    if (response.reply != static_cast<std::uint8_t>(ed::Reply::ack)) {
        throw std::runtime_error(std::string("the DAC refused '") + static_cast<char>(command) +
                                 "' (light engine " +
                                 ed::lightEngineName(response.status.lightEngine) + ", playback " +
                                 ed::playbackName(response.status.playback) + ")");
    }
}

bool EtherDreamLink::queueCommand(std::span<const std::byte> bytes, std::uint16_t points) {
    const std::size_t head = pendingHead.load(std::memory_order_relaxed);
    if (head - pendingTail.load(std::memory_order_acquire) >= kPendingSlots) {
        return false;
    }
    if (out.size() - outEnd < bytes.size()) {
        std::memmove(out.data(), out.data() + outStart, outEnd - outStart);
        outEnd -= outStart;
        outStart = 0;
        if (out.size() - outEnd < bytes.size()) {
            return false;
        }
    }
    std::memcpy(out.data() + outEnd, bytes.data(), bytes.size());
    outEnd += bytes.size();
    pending[head % kPendingSlots] =
        Pending{std::to_integer<std::uint8_t>(bytes[0]), points, generation, begun};
    pendingHead.store(head + 1, std::memory_order_release);
    commandsSent.fetch_add(1);
    return true;
}

bool EtherDreamLink::flush(const StopFlags& stop, Clock::duration longest) {
    const Clock::time_point until = Clock::now() + longest;
    while (outStart < outEnd) {
        const ssize_t n =
            ::send(fd, out.data() + outStart, outEnd - outStart, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            outStart += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            connectionLost.store(true);
            sendFailing.store(true);
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (now >= until || stop.raised()) {
            return false;
        }
        pollfd wait{fd, POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        ::poll(&wait, 1, static_cast<int>(std::clamp<std::int64_t>(left.count(), 1, 5)));
    }
    outStart = 0;
    outEnd = 0;
    return true;
}

void EtherDreamLink::pingIfAsked() {
    if (pingWanted.exchange(false) && !stopped && !connectionLost.load()) {
        const auto byte = static_cast<std::byte>(ed::Command::ping);
        if (queueCommand(std::span(&byte, 1), 0)) {
            (void)flush({}, Clock::duration::zero());
        }
    }
}

void EtherDreamLink::restartIfStopped() {
    pingIfAsked();
    const Clock::time_point now = Clock::now();
    if (stopped || !playbackLost.load() || now - lastRestart < kRestartEvery) {
        return;
    }
    playbackLost.store(false);
    lastRestart = now;
    const std::uint16_t flags = playbackFlags.load();
    const bool emergency =
        lightEngine.load() == static_cast<std::uint8_t>(ed::LightEngine::emergencyStop) ||
        (flags & ed::kEndedByEmergencyStop) != 0;
    if ((flags & ed::kEndedByUnderflow) != 0) {
        underruns.fetch_add(1);
    }
    post(StreamEvent::deviceRestarted, emergency                              ? "e-stop"
                                       : (flags & ed::kEndedByUnderflow) != 0 ? "its buffer ran dry"
                                                                              : "idle");
    ++generation;
    currentGeneration.store(generation);
    begun = false;
    if (emergency) {
        const auto clear = static_cast<std::byte>(ed::Command::clearStop);
        (void)queueCommand(std::span(&clear, 1), 0);
    }
    const auto prepare = static_cast<std::byte>(ed::Command::prepare);
    (void)queueCommand(std::span(&prepare, 1), 0);
}

void EtherDreamLink::beginIfFilled(bool endOfCall) {
    if (begun || stopped) {
        return;
    }
    const std::int32_t queued = estimatedQueued();
    if (queued >= reserveSamples || (endOfCall && queued > 0)) {
        std::array<std::byte, 7> bytes{};
        ed::writeBegin(bytes, rate);
        begun = true; // its answer tells whether it plays
        (void)queueCommand(bytes, 0);
    }
}

std::int32_t EtherDreamLink::estimatedQueued() {
    std::int32_t full = 0;
    std::uint64_t answered = 0;
    Clock::rep at = 0;
    Clock::rep moved = 0;
    std::uint8_t state = 0;
    for (int tries = 0; tries < 100; ++tries) {
        const std::uint32_t before = statusSequence.load(std::memory_order_acquire);
        full = fullness.load();
        answered = pointsAnswered.load();
        at = statusAt.load();
        moved = progressAt.load();
        state = playback.load();
        if ((before & 1U) == 0 && statusSequence.load(std::memory_order_acquire) == before) {
            break;
        }
    }
    const std::uint64_t written = samplesSent.load();
    const auto inFlight = static_cast<std::int64_t>(written > answered ? written - answered : 0);
    std::int64_t played = 0;
    const bool standing = Clock::duration(at - moved) > kStandingStill;
    if (state == static_cast<std::uint8_t>(ed::Playback::playing) && !standing) {
        const auto since = Clock::now() - Clock::time_point(Clock::duration(at));
        played = static_cast<std::int64_t>(std::chrono::duration<double>(since).count() * rate);
    }
    const std::int64_t queued = std::max<std::int64_t>(0, full - played) + inFlight;
    return static_cast<std::int32_t>(std::min<std::int64_t>(queued, 1 << 24));
}

std::int32_t EtherDreamLink::room() {
    const Clock::time_point now = Clock::now();
    wireCredit = std::min<double>(
        capacity, wireCredit + std::chrono::duration<double>(now - creditAt).count() * rate *
                                   (1.0 + kWireAllowance));
    creditAt = now;
    const std::int32_t free = capacity - kHeadroom - estimatedQueued();
    const auto outRoom =
        static_cast<std::int32_t>((out.size() - (outEnd - outStart)) / ed::kPointBytes) - 16;
    return std::max(0, std::min({free, static_cast<std::int32_t>(wireCredit), outRoom}));
}

std::size_t EtherDreamLink::writeUpTo(std::span<const LaserSample> samples, std::size_t count) {
    std::size_t written = 0;
    while (written < count) {
        const std::size_t take = std::min(count - written, ed::kMaxPointsPerWrite);
        const std::size_t length = ed::writeData(scratch, samples.subspan(written, take));
        if (!queueCommand(std::span(scratch).first(length), static_cast<std::uint16_t>(take))) {
            break;
        }
        written += take;
        samplesSent.fetch_add(take);
        wireCredit -= static_cast<double>(take);
    }
    return written;
}

SendOutcome EtherDreamLink::sendFrame(std::span<const LaserSample> samples, const StopFlags& stop,
                                      FrameStart, std::size_t) {
    const auto drain = std::chrono::duration<double>(static_cast<double>(capacity) / rate);
    const auto stallAfter = std::chrono::duration_cast<Clock::duration>(drain) + kStallMargin;
    std::size_t sent = 0;
    Clock::time_point noRoomSince{};
    bool waiting = false;
    while (sent < samples.size()) {
        if (connectionLost.load()) {
            throw std::runtime_error("the DAC closed the connection");
        }
        if (stop.raised()) {
            (void)flush(stop, Clock::duration::zero());
            return SendOutcome::stopped;
        }
        restartIfStopped();
        const std::int32_t free = room();
        const std::size_t left = samples.size() - sent;
        if (free >= static_cast<std::int32_t>(std::min(left, ed::kMaxPointsPerWrite))) {
            std::size_t end = sent + std::min(left, static_cast<std::size_t>(free));
            if (end < samples.size()) {
                // Should the sender stop after this part, the DAC ends on a dark point.
                for (std::size_t k = end; k > sent + 1; --k) {
                    const LaserSample& s = samples[k - 1];
                    if (s.r == 0 && s.g == 0 && s.b == 0) {
                        end = k;
                        break;
                    }
                }
            }
            sent += writeUpTo(samples.subspan(sent), end - sent);
            waiting = false;
            (void)flush(stop, kLongestWait);
            beginIfFilled(false);
            continue;
        }
        // A DAC that is full before it began plays once begun.
        beginIfFilled(true);
        const Clock::time_point now = Clock::now();
        if (!waiting) {
            waiting = true;
            noRoomSince = now;
        }
        if (now - noRoomSince > stallAfter) {
            stalls.fetch_add(1);
            if (!stalled) {
                stalled = true;
                post(StreamEvent::stalled, "",
                     std::chrono::duration_cast<std::chrono::milliseconds>(stallAfter).count());
            }
            return SendOutcome::stalled;
        }
        (void)flush(stop, Clock::duration::zero());
        const std::int64_t missing =
            static_cast<std::int64_t>(std::min(left, ed::kMaxPointsPerWrite)) - free;
        const auto until = std::chrono::duration<double>(static_cast<double>(missing) / rate);
        sleepFor(std::min<Clock::duration>(std::chrono::duration_cast<Clock::duration>(until) +
                                               std::chrono::microseconds(200),
                                           kLongestWait));
    }
    (void)flush(stop, kLongestWait);
    beginIfFilled(true);
    if (stalled) {
        stalled = false;
        post(StreamEvent::takesSamplesAgain);
    }
    return SendOutcome::sent;
}

bool EtherDreamLink::sendUnpaced(std::span<const LaserSample> samples) {
    if (connectionLost.load() || stopped) {
        return false;
    }
    restartIfStopped();
    // What does not fit is not sent: the DAC would drop it.
    const std::size_t take = std::min(samples.size(), static_cast<std::size_t>(room()));
    writeUpTo(samples, take);
    const bool flushed = flush({}, kLongestWait);
    beginIfFilled(true);
    return flushed && !connectionLost.load();
}

bool EtherDreamLink::switchOff() {
    if (stopped) {
        return true;
    }
    if (connectionLost.load()) {
        return false;
    }
    const auto byte = static_cast<std::byte>(ed::Command::stop);
    if (!queueCommand(std::span(&byte, 1), 0)) {
        return false;
    }
    stopped = flush({}, std::chrono::milliseconds(50));
    return stopped;
}

std::chrono::nanoseconds EtherDreamLink::timeUntilQueued(std::int32_t samples) {
    pingIfAsked();
    const std::int32_t queued = estimatedQueued();
    if (queued <= samples) {
        return std::chrono::nanoseconds{0};
    }
    return std::chrono::nanoseconds(
        static_cast<std::int64_t>(1e9 * static_cast<double>(queued - samples) / rate));
}

std::int32_t EtherDreamLink::queuedSamples() {
    return std::min(estimatedQueued(), capacity);
}

void EtherDreamLink::receiveLoop() {
    std::array<std::byte, ed::kResponseBytes * 64> buffer{};
    std::size_t have = 0;
    while (!ending.load() && !connectionLost.load()) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(kLongestWait.count())) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(fd, buffer.data() + have, buffer.size() - have, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            connectionLost.store(true);
            break;
        }
        if (n < 0) {
            continue;
        }
        const Clock::time_point heard = Clock::now();
        have += static_cast<std::size_t>(n);
        std::size_t at = 0;
        for (; have - at >= ed::kResponseBytes; at += ed::kResponseBytes) {
            const std::optional<ed::Response> response =
                ed::readResponse(std::span(buffer).subspan(at).first<ed::kResponseBytes>());
            if (!response) {
                // Out of step with the DAC: nothing it says can be placed any more.
                post(StreamEvent::datagramDropped, "an answer that is no response; reconnecting");
                connectionLost.store(true);
                return;
            }
            handleResponse(*response, heard);
        }
        std::memmove(buffer.data(), buffer.data() + at, have - at);
        have -= at;
    }
}

void EtherDreamLink::handleResponse(const ed::Response& response, Clock::time_point heard) {
    responses.fetch_add(1);
    std::size_t tail = pendingTail.load(std::memory_order_relaxed);
    const std::size_t head = pendingHead.load(std::memory_order_acquire);
    // A DAC under pressure may drop an answer: the echoed command tells which one this
    // is, and the commands before it were taken all the same.
    std::size_t match = tail;
    while (match != head && pending[match % kPendingSlots].command != response.command &&
           match - tail < kMostDroppedAnswers) {
        ++match;
    }
    if (match == head || pending[match % kPendingSlots].command != response.command) {
        return; // an answer to nothing asked: the counts stay as they are
    }
    std::uint64_t points = 0;
    for (; tail != match; ++tail) {
        points += pending[tail % kPendingSlots].points;
    }
    const Pending asked = pending[match % kPendingSlots];
    points += asked.points;
    pendingTail.store(match + 1, std::memory_order_release);
    const ed::Status& status = response.status;
    statusSequence.fetch_add(1, std::memory_order_acq_rel);
    fullness.store(std::min<std::int32_t>(status.bufferFullness, capacity));
    pointsAnswered.fetch_add(points);
    statusAt.store(heard.time_since_epoch().count());
    if (status.pointCount != lastPointCount || status.playback != playback.load()) {
        lastPointCount = status.pointCount;
        progressAt.store(heard.time_since_epoch().count());
    }
    playback.store(status.playback);
    lightEngine.store(status.lightEngine);
    playbackFlags.store(status.playbackFlags);
    statusSequence.fetch_add(1, std::memory_order_acq_rel);
    const auto command = static_cast<ed::Command>(asked.command);
    const bool ack = response.reply == static_cast<std::uint8_t>(ed::Reply::ack);
    if (command == ed::Command::stop && ack) {
        stopAcknowledged.store(true);
    }
    const bool current = asked.generation == currentGeneration.load();
    const bool idle = status.playback == static_cast<std::uint8_t>(ed::Playback::idle);
    if (current && ((asked.afterBegin && idle) || (command == ed::Command::prepare && !ack))) {
        playbackLost.store(true);
    }
}

LinkStats EtherDreamLink::stats() const {
    LinkStats s;
    s.samplesSent = samplesSent.load();
    s.packetsSent = commandsSent.load();
    s.deviceReports = responses.load();
    s.datagramsHeard = responses.load();
    s.impliedUnderruns = underruns.load();
    s.stalls = stalls.load();
    s.bufferFree = std::max(0, capacity - fullness.load());
    s.bufferMax = capacity;
    s.sampleRate = static_cast<std::int32_t>(rate);
    s.sendFailing = sendFailing.load();
    return s;
}

} // namespace lumarok
