#include "laser/etherdream_listener.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <stdexcept>
#include <system_error>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumarok {

namespace ed = etherdream;

namespace {

constexpr auto kSlice = std::chrono::milliseconds(50);
constexpr std::string_view kPrefix = "etherdream:";

} // namespace

EtherDreamListener::EtherDreamListener()
    : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
    if (fd < 0) {
        throw std::system_error(errno, std::system_category(), "Error opening socket");
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(ed::kBroadcastPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int code = errno;
        ::close(fd);
        throw std::system_error(code, std::system_category(),
                                "Bind failed on port " + std::to_string(ed::kBroadcastPort));
    }
}

EtherDreamListener::~EtherDreamListener() {
    ::close(fd);
}

std::optional<EtherDreamFound> EtherDreamListener::next(std::uint32_t address,
                                                        std::chrono::steady_clock::time_point until,
                                                        const std::atomic<bool>& stop,
                                                        const std::atomic<bool>& cancel) {
    std::array<std::byte, 512> buffer{};
    while (!stop.load() && !cancel.load()) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &size);
        if (n >= 0) {
            const std::optional<ed::Broadcast> heard =
                ed::readBroadcast(std::span(buffer).first(static_cast<std::size_t>(n)));
            if (heard && (address == 0 || from.sin_addr.s_addr == address)) {
                return EtherDreamFound{from.sin_addr.s_addr, *heard};
            }
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            break;
        }
        pollfd wait{fd, POLLIN, 0};
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
    std::map<std::uint32_t, EtherDreamFound> heard;
    while (const std::optional<EtherDreamFound> found = next(0, until, stop, never)) {
        heard.insert_or_assign(ntohl(found->source), *found);
    }
    std::vector<EtherDreamFound> list;
    for (const auto& [address, found] : heard) {
        list.push_back(found);
    }
    return list;
}

std::optional<std::uint32_t> etherDreamAddress(const std::string& word) {
    if (!word.starts_with(kPrefix)) {
        return std::nullopt;
    }
    in_addr address{};
    const std::string rest = word.substr(kPrefix.size());
    if (::inet_pton(AF_INET, rest.c_str(), &address) != 1) {
        throw std::invalid_argument("etherdream: wants an IPv4 address, not '" + rest + "'");
    }
    return address.s_addr;
}

std::string describeEtherDream(const EtherDreamFound& found) {
    const ed::Broadcast& b = found.broadcast;
    return "etherdream  " + found.name() + "  " + found.address() + "  " +
           std::to_string(b.maxPointRate) + " points/s max  buffer " +
           std::to_string(b.bufferCapacity) + "  (" + ed::lightEngineName(b.status.lightEngine) +
           ", " + ed::playbackName(b.status.playback) + ", firmware " +
           std::to_string(b.softwareRevision) + ")";
}

} // namespace lumarok
