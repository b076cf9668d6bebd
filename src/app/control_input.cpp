#include "app/control_input.hpp"

#include "status/status_sender.hpp"

#include <cerrno>
#include <cstdio>
#include <span>
#include <stdexcept>

namespace lumarok {

namespace {

constexpr auto kRefusalInterval = std::chrono::seconds(10);
// A flood cannot hold the renderer: the rest waits for the next poll.
constexpr int kMaxDatagramsPerPoll = 256;
// Answers to at most this many requesters per reading.
constexpr std::size_t kMaxRequesters = 16;

} // namespace

ControlInput::ControlInput(const ControlSettings& chosen, float startPercent)
    : settings(chosen), control(startPercent), answers(1) {
    if (settings.port) {
        socket.emplace(1);
        socket->bind(settings.address, *settings.port);
    }
}

std::string ControlInput::listenText() const {
    if (!socket) {
        return {};
    }
    std::string text = (settings.address.empty() ? std::string("0.0.0.0") : settings.address) +
                       ":" + std::to_string(socket->localPort());
    for (const AddressRange& sender : settings.allowedSenders) {
        text += (&sender == &settings.allowedSenders.front() ? " from " : ", ") + sender.text();
    }
    return text;
}

bool ControlInput::allowed(Ipv4Address address) const {
    return allowedBy(settings.allowedSenders, address);
}

void ControlInput::poll() {
    if (!socket) {
        return;
    }
    const std::span<std::byte> datagram(buffer.data(), buffer.size() - 1);
    for (int handled = 0; handled < kMaxDatagramsPerPoll; ++handled) {
        const ReceiveResult received = socket->receive(datagram);
        if (received.error != 0) {
            return; // nothing waiting (or a receive error, which the next poll meets again)
        }
        if (!allowed(received.source.address)) {
            ++refused;
            const auto now = std::chrono::steady_clock::now();
            if (refused == 1 || now - lastRefusalLine >= kRefusalInterval) {
                std::fprintf(stderr,
                             "lumarok: control from %s refused (not a --control-from sender), "
                             "%llu so far\n",
                             received.source.address.text().c_str(),
                             static_cast<unsigned long long>(refused));
                lastRefusalLine = now;
            }
            continue;
        }
        if (received.truncated) {
            std::fputs("lumarok: control datagram dropped (longer than 1024 bytes)\n", stderr);
            continue;
        }
        buffer[received.length] = std::byte{0};
        float unusedTime = 0.0f;
        try {
            // A /Time on the control socket sets no clock: control only.
            (void)visitPacket(
                makePacketView(buffer.data(), received.length), unusedTime,
                [&](const OscMessageView& message) { take(message, received.source); });
        } catch (const std::exception& e) {
            std::fprintf(stderr, "lumarok: control datagram from %s dropped (%s)\n",
                         received.source.address.text().c_str(), e.what());
        }
    }
}

void ControlInput::take(const OscMessageView& message, Ipv4Endpoint source) {
    const std::optional<ControlCommand> command = readControlMessage(message);
    if (!command) {
        return;
    }
    if (command->kind == ControlCommand::Kind::status) {
        if (requesters.size() < kMaxRequesters) {
            requesters.push_back(source);
        }
        return;
    }
    const std::string line = control.apply(*command);
    if (!line.empty()) {
        std::fprintf(stderr, "lumarok: %s (from %s)\n", line.c_str(),
                     source.address.text().c_str());
    }
}

void ControlInput::answer(const ShowHealth& health) {
    if (requesters.empty()) {
        return;
    }
    const std::vector<std::byte> message = statusMessage(health);
    UdpSocket& out = socket ? *socket : answers;
    for (const Ipv4Endpoint& to : requesters) {
        try {
            out.sendTo(to, message);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "lumarok: status to %s not sent: %s\n", to.address.text().c_str(),
                         e.what());
        }
    }
    requesters.clear();
}

} // namespace lumarok
