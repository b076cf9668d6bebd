#include "laser/event_log.hpp"

#include "laser/device_checks.hpp"
#include "net/ipv4_address.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace lumarok {

namespace {

// Complaints that may come thousands of times a second; state changes are always told.
bool repeats(StreamEvent kind) {
    switch (kind) {
    case StreamEvent::sendFailing:
    case StreamEvent::implausibleRate:
    case StreamEvent::implausibleBuffer:
    case StreamEvent::implausibleFree:
    case StreamEvent::shortInfo:
    case StreamEvent::namesOtherAddress:
    case StreamEvent::datagramDropped:
    case StreamEvent::deviceRestarted:
        return true;
    default:
        return false;
    }
}

} // namespace

void LogEvent::setText(std::string_view what) {
    const std::size_t length = std::min(what.size(), text.size() - 1);
    std::memcpy(text.data(), what.data(), length);
    text[length] = '\0';
}

EventLog::EventLog() {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i].sequence.store(i, std::memory_order_relaxed);
    }
}

bool EventLog::post(const LogEvent& event) noexcept {
    std::size_t at = enqueueAt.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells[at % kCapacity];
        const std::size_t sequence = cell.sequence.load(std::memory_order_acquire);
        const auto difference =
            static_cast<std::ptrdiff_t>(sequence) - static_cast<std::ptrdiff_t>(at);
        if (difference == 0) {
            if (enqueueAt.compare_exchange_weak(at, at + 1, std::memory_order_relaxed)) {
                cell.event = event;
                cell.sequence.store(at + 1, std::memory_order_release);
                posted.ring();
                return true;
            }
        } else if (difference < 0) {
            droppedCount.fetch_add(1, std::memory_order_relaxed);
            return false;
        } else {
            at = enqueueAt.load(std::memory_order_relaxed);
        }
    }
}

bool EventLog::pop(LogEvent& event) noexcept {
    const std::size_t at = dequeueAt.load(std::memory_order_relaxed);
    Cell& cell = cells[at % kCapacity];
    const std::size_t sequence = cell.sequence.load(std::memory_order_acquire);
    if (static_cast<std::ptrdiff_t>(sequence) - static_cast<std::ptrdiff_t>(at + 1) < 0) {
        return false;
    }
    event = cell.event;
    cell.sequence.store(at + kCapacity, std::memory_order_release);
    dequeueAt.store(at + 1, std::memory_order_relaxed);
    return true;
}

std::string describeEvent(const LogEvent& e, const std::string& projector) {
    const std::string text = e.text.data();
    const std::string a = std::to_string(e.a);
    const std::string b = std::to_string(e.b);
    switch (e.kind) {
    case StreamEvent::realtimeRefused:
        return text;
    case StreamEvent::stalled:
        return "projector " + projector + " made no room for " + a +
               " ms; sending dark and waiting for it";
    case StreamEvent::takesSamplesAgain:
        return "projector " + projector + " takes samples again";
    case StreamEvent::sendFailing:
        return "sending to the projector " + projector + " failed (" +
               std::strerror(static_cast<int>(e.a)) + "); retrying";
    case StreamEvent::sendWorksAgain: {
        std::array<char, 32> seconds{};
        std::snprintf(seconds.data(), seconds.size(), "%.1f", static_cast<double>(e.a) / 1000.0);
        return "sending to the projector " + projector + " works again after " + seconds.data() +
               " s";
    }
    case StreamEvent::implausibleRate:
        return "projector " + projector + " states a sample rate of " + a +
               " samples/s; ignored, pacing goes on at " + b;
    case StreamEvent::implausibleBuffer:
        return "projector " + projector + " states a buffer of " + a +
               " samples; ignored, pacing goes on with " + b;
    case StreamEvent::implausibleFree:
        return "projector " + projector + " reports " + a + " free of a " + b +
               "-sample buffer; ignored";
    case StreamEvent::shortInfo:
        return "a short projector information (" + a + " bytes) from " + projector + " ignored";
    case StreamEvent::namesOtherAddress:
        return "projector " + projector + "'s information names " +
               Ipv4Address(static_cast<std::uint32_t>(e.a)).text() + "; the stream stays with " +
               Ipv4Address(static_cast<std::uint32_t>(e.b)).text();
    case StreamEvent::closingFailed:
        return "the closing dark frame could not be sent to " + projector + ": " + text;
    case StreamEvent::switchOffFailed:
        return "switching the projector " + projector + " off failed: " + text;
    case StreamEvent::datagramDropped:
        return "device datagram from " + projector + " dropped: " + text;
    case StreamEvent::deviceRefused:
        return "projector " + projector + " refused the stream: " + text;
    case StreamEvent::deviceRestarted:
        return "projector " + projector + " stopped playing (" + text + "); started it again";
    }
    return text;
}

EventPrinter::EventPrinter(EventLog& events,
                           std::function<std::string(std::uint16_t)> projectorLabel)
    : log(events), label(std::move(projectorLabel)) {
    thread = std::thread(&EventPrinter::run, this);
}

EventPrinter::~EventPrinter() {
    stopping.store(true);
    log.wakeReader();
    if (thread.joinable()) {
        thread.join();
    }
    flush();
}

void EventPrinter::flush() {
    const std::lock_guard lock(printMutex);
    LogEvent event;
    while (log.pop(event)) {
        const std::string line = describeEvent(event, label(event.stream));
        if (repeats(event.kind)) {
            complaints.try_emplace({event.stream, event.kind}).first->second.print(line);
        } else {
            std::fprintf(stderr, "lumarok: %s\n", line.c_str());
        }
    }
    const std::uint64_t dropped = log.dropped();
    if (dropped != droppedTold) {
        std::fprintf(stderr, "lumarok: %llu messages of the laser streams dropped\n",
                     static_cast<unsigned long long>(dropped - droppedTold));
        droppedTold = dropped;
    }
}

void EventPrinter::run() {
    while (!stopping.load()) {
        const std::uint32_t seen = log.bell().rings();
        flush();
        log.bell().waitPast(seen, Doorbell::Clock::now() + std::chrono::seconds(1));
    }
}

} // namespace lumarok
