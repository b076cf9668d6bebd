#pragma once

#include "core/doorbell.hpp"
#include "core/rate_limited_line.hpp"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

namespace lumarok {

// What a laser stream has to tell the operator. The real-time sender may not format
// text or write to stderr, so it posts one of these with its numbers; a normal thread
// turns it into a line.
enum class StreamEvent : std::uint8_t {
    realtimeRefused,   // text: what was refused
    stalled,           // a: milliseconds without room
    takesSamplesAgain, //
    sendFailing,       // a: errno
    sendWorksAgain,    // a: milliseconds it failed
    implausibleRate,   // a: stated rate, b: the rate paced on
    implausibleBuffer, // a: stated size, b: the size paced on
    implausibleFree,   // a: stated free, b: buffer size
    shortInfo,         // a: bytes
    namesOtherAddress, // a: the address named, b: the stream's (Ipv4Address::hostOrder)
    closingFailed,     // text: why the closing dark frame did not go out
    switchOffFailed,   // text: why
    datagramDropped,   // text: why
    deviceRestarted,   // text: why the device stopped playing; it was prepared again
    deviceRefused,     // text: why the device refused the stream
};

struct LogEvent {
    StreamEvent kind = StreamEvent::stalled;
    std::uint16_t stream = 0; // index of the projector in the show
    std::int64_t a = 0;
    std::int64_t b = 0;
    std::array<char, 120> text{}; // zero-terminated, cut to fit

    void setText(std::string_view what);
};

// A bounded queue of events from any number of threads to one reader. Posting never
// waits, allocates or takes a lock: a full queue drops the event and counts it.
// Thread: post from any thread; pop from one.
class EventLog {
public:
    static constexpr std::size_t kCapacity = 256;

    EventLog();
    // Lock-free; false (counted) when full. Rings the doorbell for the reader.
    bool post(const LogEvent& event) noexcept;
    bool pop(LogEvent& event) noexcept;
    [[nodiscard]] std::uint64_t dropped() const { return droppedCount.load(); }
    [[nodiscard]] const Doorbell& bell() const { return posted; }
    // Wakes the reader without an event (to let it see that it should end).
    void wakeReader() { posted.ring(); }

private:
    struct Cell {
        std::atomic<std::size_t> sequence{0};
        LogEvent event;
    };
    std::array<Cell, kCapacity> cells{};
    alignas(64) std::atomic<std::size_t> enqueueAt{0};
    alignas(64) std::atomic<std::size_t> dequeueAt{0};
    std::atomic<std::uint64_t> droppedCount{0};
    Doorbell posted;
};

// The line an event stands for, without "lumarok: " and without a line break;
// `projector` names the stream ("left at 10.0.0.7").
[[nodiscard]] std::string describeEvent(const LogEvent& event, const std::string& projector);

// Prints the events of a log on stderr, one "lumarok: ..." line each (a repeated
// complaint at most every 2 s per projector), from a thread of its own; what is
// left is printed when it goes. `projectorLabel(stream)` is asked on that thread.
class EventPrinter {
public:
    EventPrinter(EventLog& log, std::function<std::string(std::uint16_t)> projectorLabel);
    ~EventPrinter();
    EventPrinter(const EventPrinter&) = delete;
    EventPrinter& operator=(const EventPrinter&) = delete;

    // Prints what is waiting now, on the caller's thread.
    void flush();

private:
    void run();

    EventLog& log;
    std::function<std::string(std::uint16_t)> label;
    std::mutex printMutex; // flush() also runs on the owner's thread at the end
    std::map<std::pair<std::uint16_t, StreamEvent>, RateLimitedLine> complaints;
    std::uint64_t droppedTold = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

} // namespace lumarok
