#include "output/projector_finder.hpp"

#include <net/if.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace lumarok {

namespace {

using Clock = std::chrono::steady_clock;
// How long one discovery runs for the wanted projectors before it looks whether
// they changed.
constexpr auto kDiscoveryWindow = std::chrono::milliseconds(250);
// How long an answer counts as a projector that answers.
constexpr auto kAnsweringWindow = std::chrono::seconds(3);

bool matches(const std::string& wanted, const FoundProjector& found) {
    return wanted.empty() || wanted == found.info.deviceName ||
           wanted == found.info.deviceAddress.text() || wanted == found.source.address.text();
}

// Names are broadcast for either way: asking everyone then lets every answer be heard
// (and named while a mistyped one is waited for); an address is asked directly.
std::vector<std::string> askFor(const std::vector<std::string>& wanted) {
    for (const std::string& word : wanted) {
        if (Ipv4Address::parse(word)) {
            return wanted;
        }
    }
    return {};
}

} // namespace

ProjectorFinder::ProjectorFinder(std::string interface, const std::atomic<bool>& stopSignal)
    : interfaceName(std::move(interface)), stop(stopSignal), socket(0) {
    if (!interfaceName.empty() && ::if_nametoindex(interfaceName.c_str()) == 0) {
        throw std::invalid_argument("no network interface " + interfaceName);
    }
    bindCommandPort(socket);
    thread = std::thread(&ProjectorFinder::run, this);
}

ProjectorFinder::~ProjectorFinder() {
    {
        const std::lock_guard lock(mutex);
        ending.store(true);
    }
    changed.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

std::optional<std::vector<std::string>> ProjectorFinder::wantedNow() {
    std::vector<std::string> wanted;
    bool any = false;
    for (const std::string& word : waiting) {
        if (const auto answered = found.find(word);
            answered != found.end() && !answered->second.empty()) {
            continue; // handed out, not yet taken
        }
        any = any || word.empty();
        if (std::find(wanted.begin(), wanted.end(), word) == wanted.end()) {
            wanted.push_back(word);
        }
    }
    if (wanted.empty()) {
        return std::nullopt;
    }
    if (any) {
        return std::vector<std::string>{}; // any projector: ask everyone
    }
    return wanted;
}

void ProjectorFinder::run() {
    std::unique_lock lock(mutex);
    while (!ending.load() && !stop.load()) {
        const std::optional<std::vector<std::string>> wanted = wantedNow();
        if (!wanted) {
            // Woken by whoever starts to wait, or when the finder goes.
            changed.wait_for(lock, std::chrono::seconds(1));
            continue;
        }
        lock.unlock();
        try {
            Discovery discovery(socket, ProjectorChoice{askFor(*wanted), interfaceName});
            const Clock::time_point end = Clock::now() + kDiscoveryWindow;
            // Each answer is handed out as it comes: the show starts on it at once.
            while (std::optional<FoundProjector> answer = discovery.next(end, &ending)) {
                const std::lock_guard handing(mutex);
                deliver(*answer);
                changed.notify_all();
                if (!wantedNow()) {
                    break;
                }
            }
        } catch (const DiscoveryCancelled&) {
        }
        lock.lock();
    }
}

void ProjectorFinder::deliver(const FoundProjector& answer) {
    const std::string& name = answer.info.deviceName;
    const Ipv4Address source = answer.source.address;
    heardFrom[source] = {(name.empty() ? std::string("(no name)") : name) + " at " + source.text(),
                         Clock::now()};
    if (const auto played = playing.find(source); played != playing.end()) {
        tellSamePlaysOnce(answer, played->second);
        return;
    }
    for (const std::string& word : waiting) {
        if (matches(word, answer)) {
            found[word].push_back(answer);
        }
    }
}

void ProjectorFinder::tellSamePlaysOnce(const FoundProjector& answer, const std::string& playedAs) {
    for (const std::string& word : waiting) {
        if (word != playedAs && !word.empty() && matches(word, answer) &&
            toldSame.insert(word).second) {
            std::fprintf(stderr,
                         "lumarok: projector %s is the one at %s that plays as %s; it plays once\n",
                         word.c_str(), answer.source.address.text().c_str(), playedAs.c_str());
        }
    }
}

std::optional<FoundProjector> ProjectorFinder::find(const std::string& wanted,
                                                    const std::atomic<bool>& cancel) {
    std::unique_lock lock(mutex);
    waiting.insert(wanted);
    changed.notify_all();
    std::optional<FoundProjector> result;
    while (!result && !cancel.load() && !stop.load() && !ending.load()) {
        auto& answers = found[wanted];
        for (FoundProjector& answer : answers) {
            if (!playing.contains(answer.source.address)) {
                playing.emplace(answer.source.address, wanted);
                result = std::move(answer);
                break;
            }
        }
        answers.clear();
        if (!result) {
            changed.wait_for(lock, std::chrono::milliseconds(50));
        }
    }
    waiting.erase(waiting.find(wanted));
    return result;
}

void ProjectorFinder::release(Ipv4Address source) {
    const std::lock_guard lock(mutex);
    playing.erase(source);
}

std::optional<std::string> ProjectorFinder::playingAs(Ipv4Address source) {
    const std::lock_guard lock(mutex);
    const auto at = playing.find(source);
    return at == playing.end() ? std::nullopt : std::optional<std::string>(at->second);
}

std::vector<std::string> ProjectorFinder::answering() {
    const std::lock_guard lock(mutex);
    const Clock::time_point since = Clock::now() - kAnsweringWindow;
    std::vector<std::string> labels;
    for (const auto& [source, heard] : heardFrom) {
        // One that plays answers its link, no longer the finder: it counts while it plays.
        if (heard.at >= since || playing.contains(source)) {
            labels.push_back(heard.label);
        }
    }
    return labels;
}

std::vector<FoundProjector> ProjectorFinder::collect(std::chrono::milliseconds duration) {
    Discovery discovery(socket, ProjectorChoice{{}, interfaceName});
    return discovery.collect(duration, &stop);
}

} // namespace lumarok
