#pragma once

#include "clock/time_provider.hpp"
#include "net/ipv4_address.hpp"
#include "net/osc_packet.hpp"
#include "net/udp_socket.hpp"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {

inline constexpr std::uint16_t oscPort = 8666;

// Where /Time is listened for and whom it is taken from.
struct OscSettings {
    std::uint16_t port = oscPort;             // 0: the system picks one (see port())
    std::string address;                      // local IPv4 address; empty: all
    std::vector<AddressRange> allowedSenders; // empty: every sender
    // timeAt runs on from the last /Time for at most this long (the clock timeout, or 2 s).
    double runOnSeconds = 2.0;
};

// The time of the last OSC "/Time" message received on a UDP port.
class OscTimeProvider final : public TimeProvider {
public:
    // Throws the socket's std::system_error ("Bind failed on ADDRESS:PORT: ..."); the socket
    // is then closed.
    explicit OscTimeProvider(std::uint16_t port = oscPort);
    explicit OscTimeProvider(OscSettings settings);

    // Handles every datagram waiting, oldest first, then returns the last good time. Never
    // waits, never throws for what a sender sent: a malformed datagram is dropped, and so is
    // every datagram from a sender outside the allowed ranges.
    [[nodiscard]] double getTime() override;
    [[nodiscard]] const char* sourceName() const override { return "osc"; }
    [[nodiscard]] const char* heardName() const override { return "/Time"; }
    [[nodiscard]] std::optional<double> silentSeconds() const override {
        return secondsSinceTime();
    }
    [[nodiscard]] std::string readoutText() const override;
    // Handles what is waiting as getTime does, then: the last /Time plus the steady time
    // from its arrival (as the kernel stamped it) to `moment`, at most runOnSeconds either
    // way; the last /Time as it is when it repeats the one before (the music paused) or
    // none came yet. Each /Time starts it afresh, so it never runs on past a later one.
    [[nodiscard]] double timeAt(std::chrono::steady_clock::time_point moment) override;

    [[nodiscard]] std::uint16_t port() const { return socket.localPort(); }
    // "0.0.0.0:8666" or the chosen address, with the port actually bound.
    [[nodiscard]] std::string listenText() const;
    // True once a /Time message has set the time.
    [[nodiscard]] bool timeReceived() const { return timeMessages != 0; }
    // Seconds on the steady clock since the last /Time message; none before the first.
    [[nodiscard]] std::optional<double> secondsSinceTime() const;
    // Every other message from an allowed sender goes here (with the sender's address
    // and port), on the thread that calls getTime.
    using OtherMessages = std::function<void(const OscMessageView&, Ipv4Endpoint source)>;
    void passOtherMessages(OtherMessages handler) { others = std::move(handler); }
    // Datagrams dropped as malformed or too long since construction.
    [[nodiscard]] std::uint64_t droppedDatagrams() const { return dropped; }
    // Datagrams dropped because their sender is not allowed.
    [[nodiscard]] std::uint64_t refusedDatagrams() const { return refused; }

    static constexpr std::size_t kDatagramCapacity = 1024;
    // A flood cannot hold getTime for ever: the rest waits for the next frame.
    static constexpr int kMaxDatagramsPerCall = 4096;
    // At most one line about refused senders in this long.
    static constexpr std::chrono::seconds kRefusalReportInterval{10};

private:
    void receiveAll();
    void drop(const char* why);
    [[nodiscard]] bool senderAllowed(Ipv4Address address) const;
    void refuse(Ipv4Address address);

    OscSettings settings;
    UdpSocket socket;
    float lastTime = 0.0F;
    float timeBefore = 0.0F; // the /Time before the last one
    std::uint64_t timeMessages = 0;
    std::chrono::steady_clock::time_point lastTimeAt;  // when the last /Time was read
    std::chrono::steady_clock::time_point lastArrival; // when it arrived, as stamped
    OtherMessages others;
    std::uint64_t dropped = 0;
    std::uint64_t receiveErrors = 0;
    std::uint64_t refused = 0;
    std::uint64_t refusedReported = 0;
    std::chrono::steady_clock::time_point lastRefusalReport;
    // One datagram and a terminating zero; 4-byte aligned as the parser requires.
    alignas(4) std::array<std::byte, kDatagramCapacity + 1> buffer{};
};

} // namespace lumarok
