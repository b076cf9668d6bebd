#include "laser/idn_scanner.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>
#include <system_error>

#include <poll.h>

namespace lumarok {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kAskEvery = std::chrono::milliseconds(250);
constexpr std::string_view kPrefix = "idn:";
constexpr std::uint8_t kLaserProjector = 0x80;

std::optional<idn::Service> chooseService(const std::vector<idn::Service>& services,
                                          const std::string& wanted) {
    const idn::Service* chosen = nullptr;
    for (const idn::Service& s : services) {
        if (s.type != kLaserProjector) {
            continue;
        }
        if (!wanted.empty()) {
            if (s.name == wanted || std::to_string(s.id) == wanted) {
                return s;
            }
            continue;
        }
        if (chosen == nullptr || ((s.flags & 0x01) != 0 && (chosen->flags & 0x01) == 0)) {
            chosen = &s;
        }
    }
    return chosen != nullptr ? std::optional<idn::Service>(*chosen) : std::nullopt;
}

} // namespace

std::optional<IdnWord> idnWord(const std::string& word) {
    if (!word.starts_with(kPrefix)) {
        return std::nullopt;
    }
    const std::string rest = word.substr(kPrefix.size());
    const std::size_t slash = rest.find('/');
    IdnWord parsed;
    const std::string address = rest.substr(0, slash);
    const std::optional<Ipv4Address> ip = Ipv4Address::parse(address);
    if (!ip) {
        throw std::invalid_argument("idn: wants an IPv4 address, not '" + address + "'");
    }
    parsed.address = *ip;
    if (slash != std::string::npos) {
        parsed.service = rest.substr(slash + 1);
        if (parsed.service.empty()) {
            throw std::invalid_argument("idn:" + address + "/ needs a service name or number");
        }
    }
    return parsed;
}

IdnScanner::IdnScanner() : socket(1) {
    socket.enableBroadcast();
}

void IdnScanner::ask(Ipv4Address address, idn::Hello command) {
    std::array<std::byte, idn::kHelloBytes> request{};
    idn::writeHello(request, command, sequence++);
    try {
        socket.sendTo({address, idn::kPort}, request);
    } catch (const std::system_error&) {
        // A refused send is asked again on the next round.
    }
}

std::optional<IdnFound> IdnScanner::find(const IdnWord& wanted, Clock::time_point until,
                                         const std::atomic<bool>& stop,
                                         const std::atomic<bool>& cancel, std::uint8_t& status) {
    std::array<std::byte, 1500> buffer{};
    std::optional<idn::Unit> unit;
    Clock::time_point nextAsk{};
    while (!stop.load() && !cancel.load()) {
        const Clock::time_point now = Clock::now();
        if (now >= until) {
            break;
        }
        if (now >= nextAsk) {
            ask(wanted.address, unit ? idn::Hello::serviceMapRequest : idn::Hello::scanRequest);
            nextAsk = now + kAskEvery;
        }
        const ReceiveResult heard = socket.receive(buffer);
        if (heard.error != 0) {
            pollfd wait{socket.nativeHandle(), POLLIN, 0};
            ::poll(&wait, 1, 20);
            continue;
        }
        if (heard.source.address != wanted.address || heard.truncated) {
            continue;
        }
        const std::span<const std::byte> got(buffer.data(), heard.length);
        if (const std::optional<idn::Unit> scanned = idn::readScanResponse(got)) {
            status = scanned->status;
            const std::uint8_t unfit =
                idn::kMalfunction | idn::kOffline | idn::kExcluded | idn::kOccupied;
            if ((scanned->status & unfit) == 0 && (scanned->status & idn::kRealtime) != 0) {
                unit = scanned;
                nextAsk = now; // the service map at once
            } else {
                unit.reset();
            }
        } else if (const auto services = idn::readServiceMap(got); services && unit) {
            if (const std::optional<idn::Service> service =
                    chooseService(*services, wanted.service)) {
                return IdnFound{wanted.address, *unit, *service};
            }
            unit.reset(); // no such service: asked again
        }
    }
    return std::nullopt;
}

std::vector<IdnFound> IdnScanner::collect(std::chrono::milliseconds duration,
                                          const std::atomic<bool>& stop) {
    for (const SubnetBroadcast& target : localSubnetBroadcasts()) {
        ask(target.address, idn::Hello::scanRequest);
    }
    std::map<Ipv4Address, idn::Unit> units;
    std::array<std::byte, 1500> buffer{};
    const Clock::time_point scanEnd = Clock::now() + duration / 2;
    while (!stop.load() && Clock::now() < scanEnd) {
        const ReceiveResult heard = socket.receive(buffer);
        if (heard.error != 0) {
            pollfd wait{socket.nativeHandle(), POLLIN, 0};
            ::poll(&wait, 1, 20);
            continue;
        }
        if (heard.truncated) {
            continue;
        }
        if (const auto unit = idn::readScanResponse(std::span(buffer).first(heard.length))) {
            units.insert_or_assign(heard.source.address, *unit);
        }
    }
    std::vector<IdnFound> found;
    const std::atomic<bool> never{false};
    const Clock::time_point end = Clock::now() + duration / 2;
    for (const auto& [address, unit] : units) {
        std::uint8_t status = unit.status;
        const IdnWord word{address, {}};
        if (std::optional<IdnFound> one = find(word, end, stop, never, status)) {
            found.push_back(*one);
        } else {
            found.push_back(IdnFound{address, unit, {}});
        }
    }
    return found;
}

std::string idnStatusWords(std::uint8_t status) {
    std::string words;
    const std::pair<std::uint8_t, const char*> bits[] = {{idn::kMalfunction, "malfunction"},
                                                         {idn::kOffline, "offline"},
                                                         {idn::kExcluded, "excluded"},
                                                         {idn::kOccupied, "occupied"}};
    for (const auto& [bit, word] : bits) {
        if ((status & bit) != 0) {
            words += (words.empty() ? "" : ", ") + std::string(word);
        }
    }
    return words;
}

std::string describeIdn(const IdnFound& found) {
    const std::string status = idnStatusWords(found.unit.status);
    std::string line = "idn  " + found.name() + "  " + found.source.text() + "  ";
    if (found.service.id != 0) {
        line += "service " + std::to_string(found.service.id) + " \"" + found.service.name + "\"";
    } else {
        line += "no laser service";
    }
    line += "  version " + std::to_string(found.unit.version >> 4U) + "." +
            std::to_string(found.unit.version & 0x0FU);
    return line + (status.empty() ? "" : "  (" + status + ")");
}

} // namespace lumarok
