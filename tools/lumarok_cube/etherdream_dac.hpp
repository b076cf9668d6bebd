#pragma once

// The virtual Ether Dream's state machine and point buffer, played in real time.
#include "laser/etherdream_protocol.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

namespace lumarok::cube {

using DacClock = std::chrono::steady_clock;

struct Settings {
    std::string address;
    std::string broadcastTo; // empty: each interface's own broadcast address
    std::array<std::uint8_t, 6> mac{0x02, 0, 0, 0, 0, 0x01};
    int bufferSize = 1799;
    std::uint32_t maxRate = 100000;
    double stallAfter = -1.0;
    double estopAfter = -1.0;
    double seconds = 0.0;
    bool progress = false;
    std::string litLog; // when a lit point follows at least 5 ms of dark ones
};

namespace dac_detail {
namespace ed = etherdream;
using Clock = DacClock;

struct Point {
    LaserSample sample;
    bool lit = false;
    bool takeRate = false;
};

struct Counts {
    std::uint64_t writes = 0, begins = 0, points = 0, underruns = 0, dropped = 0, malformed = 0,
                  nakInvalid = 0, prepares = 0, stops = 0, connections = 0, rejected = 0,
                  largestWrite = 0, maxIn100ms = 0;
    std::int64_t stoppedAtUs = 0;
    Clock::duration litStarved{};
};

// The DAC's state machine and buffer.
class Dac {
public:
    explicit Dac(const Settings& chosen) : settings(chosen) {
        if (!settings.litLog.empty()) {
            litLog = std::fopen(settings.litLog.c_str(), "w");
            if (litLog == nullptr) {
                throw std::runtime_error("cannot write " + settings.litLog);
            }
        }
    }
    ~Dac() {
        if (litLog != nullptr) {
            std::fclose(litLog);
        }
    }
    Dac(const Dac&) = delete;
    Dac& operator=(const Dac&) = delete;

    ed::Status status() const {
        ed::Status s;
        s.lightEngine = static_cast<std::uint8_t>(engine);
        s.playback = static_cast<std::uint8_t>(state);
        s.lightEngineFlags = engineFlags;
        s.playbackFlags = static_cast<std::uint16_t>(
            flags | (state == ed::Playback::playing ? ed::kShutterOpen : 0));
        s.bufferFullness = static_cast<std::uint16_t>(buffer.size());
        s.pointRate = state == ed::Playback::playing ? rate : 0;
        s.pointCount = pointCount;
        return s;
    }

    // Plays what is due by `now`.
    void advance(Clock::time_point now, bool stalledNow) {
        if (state != ed::Playback::playing || stalledNow) {
            playedUntil = now;
            if (starvedSince && now > *starvedSince) {
                counts.litStarved += now - *starvedSince;
                starvedSince = now;
            }
            return;
        }
        const double due = std::chrono::duration<double>(now - playedUntil).count() * rate + owed;
        auto whole = static_cast<std::uint64_t>(due);
        owed = due - static_cast<double>(whole);
        const double from = std::chrono::duration<double>(playedUntil.time_since_epoch()).count();
        playedUntil = now;
        for (std::uint64_t k = 0; whole > 0 && !buffer.empty(); ++k) {
            const Point p = buffer.front();
            buffer.pop_front();
            if (litLog != nullptr && p.lit && darkRun >= rate / 200) {
                std::fprintf(litLog, "%.6f\n", from + static_cast<double>(k) / rate);
            }
            darkRun = p.lit ? 0 : darkRun + 1;
            lastPlayedLit = p.lit;
            ++pointCount;
            --whole;
            if (p.takeRate && !rates.empty()) {
                rate = rates.front();
                rates.pop_front();
            }
        }
        if (whole > 0 && buffer.empty()) {
            // Underflow: the stream ends; a lit last point stands until something moves it.
            state = ed::Playback::idle;
            flags |= ed::kEndedByUnderflow;
            ++counts.underruns;
            if (lastPlayedLit) {
                starvedSince = now;
            }
        }
    }

    void emergencyStop() {
        engine = ed::LightEngine::emergencyStop;
        engineFlags |= 0x0001;
        if (state != ed::Playback::idle) {
            flags |= ed::kEndedByEmergencyStop;
        }
        stopPlayback();
    }

    // The reply to one command; nullopt closes the connection.
    std::optional<std::uint8_t> handle(std::uint8_t command, std::span<const std::byte> body,
                                       Clock::time_point now) {
        const auto ack = static_cast<std::uint8_t>(ed::Reply::ack);
        const auto invalid = static_cast<std::uint8_t>(ed::Reply::invalid);
        const auto get32 = [&](std::size_t at) {
            std::uint32_t v = 0;
            for (std::size_t i = 0; i < 4; ++i) {
                v |= std::to_integer<std::uint32_t>(body[at + i]) << (8 * i);
            }
            return v;
        };
        switch (command) {
        case 0x70: // prepare
            if (engine != ed::LightEngine::ready || state != ed::Playback::idle) {
                return invalid;
            }
            buffer.clear();
            rates.clear();
            pointCount = 0;
            flags = 0;
            state = ed::Playback::prepared;
            endStarving(now);
            ++counts.prepares;
            return ack;
        case 0x62: { // begin
            const std::uint32_t wanted = get32(2);
            if (wanted == 0 || wanted > settings.maxRate || state != ed::Playback::prepared ||
                buffer.empty()) {
                return invalid;
            }
            rate = wanted;
            state = ed::Playback::playing;
            playedUntil = now;
            owed = 0.0;
            ++counts.begins;
            return ack;
        }
        case 0x71: { // queue rate
            const std::uint32_t wanted = get32(0);
            if (wanted == 0 || wanted > settings.maxRate || state == ed::Playback::idle) {
                return invalid;
            }
            if (rates.size() < 199) {
                rates.push_back(wanted);
            }
            return ack;
        }
        case 0x64: { // data
            const std::size_t n = body.size() / ed::kPointBytes;
            ++counts.writes;
            counts.largestWrite = std::max<std::uint64_t>(counts.largestWrite, n);
            noteArrivals(now, n);
            counts.points += n;
            bool lost = false;
            for (std::size_t i = 0; i < n; ++i) {
                const auto bytes = body.subspan(2 + i * ed::kPointBytes).first<ed::kPointBytes>();
                if (state == ed::Playback::idle ||
                    static_cast<int>(buffer.size()) >= settings.bufferSize) {
                    ++counts.dropped;
                    lost = true;
                    continue;
                }
                lastReceivedLit = ed::pointLit(bytes);
                const bool takeRate = (std::to_integer<unsigned>(bytes[1]) & 0x80U) != 0;
                buffer.push_back(Point{ed::readPoint(bytes), lastReceivedLit, takeRate});
            }
            if (n > 0 && state == ed::Playback::playing) {
                endStarving(now);
            }
            return lost && n > 0 ? invalid : ack;
        }
        case 0x73: // stop
            if (state == ed::Playback::idle) {
                return invalid;
            }
            stopPlayback();
            endStarving(now);
            ++counts.stops;
            counts.stoppedAtUs =
                std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch())
                    .count();
            return ack;
        case 0x00:
        case 0xFF:
            emergencyStop();
            endStarving(now);
            return ack;
        case 0x63: // clear e-stop
            if (engine != ed::LightEngine::emergencyStop) {
                return invalid;
            }
            engine = ed::LightEngine::ready;
            engineFlags = 0;
            return ack;
        case 0x3F: // ping
            return ack;
        default:
            ++counts.malformed;
            return std::nullopt;
        }
    }

    // Bytes a command takes, 0 when it is not complete in `have` yet.
    static std::size_t length(std::span<const std::byte> have) {
        if (have.empty()) {
            return 0;
        }
        switch (std::to_integer<std::uint8_t>(have[0])) {
        case 0x62:
            return have.size() >= 7 ? 7 : 0;
        case 0x71:
            return have.size() >= 5 ? 5 : 0;
        case 0x64: {
            if (have.size() < 3) {
                return 0;
            }
            const std::size_t n = std::to_integer<std::size_t>(have[1]) |
                                  (std::to_integer<std::size_t>(have[2]) << 8U);
            const std::size_t total = 3 + n * ed::kPointBytes;
            return have.size() >= total ? total : 0;
        }
        default:
            return 1;
        }
    }

    void disconnected() {
        // Closing the connection does not stop playback: the buffer runs dry.
    }

    [[nodiscard]] bool playing() const { return state == ed::Playback::playing; }
    [[nodiscard]] bool lastLit() const { return lastReceivedLit; }
    Counts counts;

private:
    void stopPlayback() {
        state = ed::Playback::idle;
        buffer.clear();
        rates.clear();
    }
    void endStarving(Clock::time_point now) {
        if (starvedSince) {
            counts.litStarved += now - *starvedSince;
            starvedSince.reset();
        }
    }
    void noteArrivals(Clock::time_point now, std::size_t n) {
        arrivals.emplace_back(now, n);
        inWindow += n;
        while (!arrivals.empty() && now - arrivals.front().first > std::chrono::milliseconds(100)) {
            inWindow -= arrivals.front().second;
            arrivals.pop_front();
        }
        counts.maxIn100ms = std::max<std::uint64_t>(counts.maxIn100ms, inWindow);
    }

    const Settings& settings;
    std::FILE* litLog = nullptr;
    std::uint64_t darkRun = 0;
    ed::LightEngine engine = ed::LightEngine::ready;
    std::uint16_t engineFlags = 0;
    ed::Playback state = ed::Playback::idle;
    std::uint16_t flags = 0;
    std::deque<Point> buffer;
    std::deque<std::uint32_t> rates;
    std::uint32_t rate = 30000;
    std::uint32_t pointCount = 0;
    double owed = 0.0;
    Clock::time_point playedUntil = Clock::now();
    bool lastPlayedLit = false;
    bool lastReceivedLit = false;
    std::optional<Clock::time_point> starvedSince;
    std::deque<std::pair<Clock::time_point, std::size_t>> arrivals;
    std::uint64_t inWindow = 0;
};

} // namespace dac_detail

using dac_detail::Counts;
using dac_detail::Dac;

} // namespace lumarok::cube
