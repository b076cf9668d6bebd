#include "laser/etherdream_listener.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>

#include <poll.h>

namespace lumarok {

namespace ed = etherdream;

namespace {

constexpr auto kSlice = std::chrono::milliseconds(50);
constexpr std::string_view kPrefix = "etherdream:";

} // namespace

EtherDreamListener::EtherDreamListener() : socket(1) {
    socket.allowAddressReuse();
    socket.bind(ed::kBroadcastPort);
}

std::optional<EtherDreamFound> EtherDreamListener::next(std::optional<Ipv4Address> address,
                                                        std::chrono::steady_clock::time_point until,
                                                        const std::atomic<bool>& stop,
                                                        const std::atomic<bool>& cancel) {
    std::array<std::byte, 512> buffer{};
    while (!stop.load() && !cancel.load()) {
        const ReceiveResult got = socket.receive(buffer);
        if (got.error == 0) {
            const std::optional<ed::Broadcast> heard =
                got.truncated ? std::nullopt
                              : ed::readBroadcast(std::span(buffer).first(got.length));
            if (heard && (!address || got.source.address == *address)) {
                return EtherDreamFound{got.source.address, *heard};
            }
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            break;
        }
        pollfd wait{socket.nativeHandle(), POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        ::poll(&wait, 1,
               static_cast<int>(std::clamp<std::int64_t>(left.count(), 1, kSlice.count())));
    }
    return std::nullopt;
}

std::vector<EtherDreamFound> EtherDreamListener::collect(std::chrono::milliseconds duration,
                                                         const std::atomic<bool>& stop) {
    const std::atomic<bool> never{false};
    const auto until = std::chrono::steady_clock::now() + duration;
    std::map<Ipv4Address, EtherDreamFound> heard;
    while (const std::optional<EtherDreamFound> found = next(std::nullopt, until, stop, never)) {
        heard.insert_or_assign(found->source, *found);
    }
    std::vector<EtherDreamFound> list;
    for (const auto& [address, found] : heard) {
        list.push_back(found);
    }
    return list;
}

std::optional<Ipv4Address> etherDreamAddress(const std::string& word) {
    if (!word.starts_with(kPrefix)) {
        return std::nullopt;
    }
    const std::string rest = word.substr(kPrefix.size());
    const std::optional<Ipv4Address> address = Ipv4Address::parse(rest);
    if (!address) {
        throw std::invalid_argument("etherdream: wants an IPv4 address, not '" + rest + "'");
    }
    return address;
}

std::string describeEtherDream(const EtherDreamFound& found) {
    const ed::Broadcast& b = found.broadcast;
    return "etherdream  " + found.name() + "  " + found.source.text() + "  " +
           std::to_string(b.maxPointRate) + " points/s max  buffer " +
           std::to_string(b.bufferCapacity) + "  (" + ed::lightEngineName(b.status.lightEngine) +
           ", " + ed::playbackName(b.status.playback) + ", firmware " +
           std::to_string(b.softwareRevision) + ")";
}

} // namespace lumarok
