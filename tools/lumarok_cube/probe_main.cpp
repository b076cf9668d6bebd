// lumarok-link-probe: drives the laser link against a (virtual) projector with a
// fixed test pattern, for the integration tests. It broadcasts, so it refuses to
// run anywhere but inside the named network namespace it is told to expect.
#include "laser/lasercube_link.hpp"
#include "own_netns.hpp"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

std::atomic<bool> gStop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void requestStop(int) {
    gStop.store(true);
}

// Every frame is the same, so a receiver can check any frame it got.
std::vector<lumarok::LaserSample> pattern(std::size_t count) {
    std::vector<lumarok::LaserSample> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = lumarok::LaserSample{static_cast<std::uint16_t>(i * 37 % 4096),
                                          static_cast<std::uint16_t>(i * 11 % 4096), 4095,
                                          static_cast<std::uint16_t>(i % 4096), 7};
    }
    return samples;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 5.0;
    std::size_t count = 600;
    std::string expectedNetns;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds") {
            seconds = std::stod(argv[i + 1]);
        } else if (option == "--samples") {
            count = std::stoul(argv[i + 1]);
        } else if (option == "--netns") {
            expectedNetns = argv[i + 1];
        }
    }
    const std::string netns = lumarok::cube::ownNetnsName();
    if (expectedNetns.empty() || netns != expectedNetns) {
        std::fprintf(stderr,
                     "lumarok-link-probe: refusing to broadcast outside network "
                     "namespace '%s' (running in '%s')\n",
                     expectedNetns.c_str(), netns.c_str());
        return 97;
    }
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    try {
        std::uint64_t frames = 0;
        {
            lumarok::UdpSocket finder(0);
            lumarok::bindCommandPort(finder);
            const lumarok::FoundProjector found =
                lumarok::Discovery(finder, {}).waitForFirst(&gStop);
            lumarok::EventLog events;
            lumarok::LaserCubeLink link(found, events);
            std::fputs(lumarok::foundLine(link.name(), link.address()).c_str(), stdout);
            std::fflush(stdout);
            lumarok::EventPrinter printer(events,
                                          [&](std::uint16_t) { return link.address().text(); });
            const std::vector<lumarok::LaserSample> frame = pattern(count);
            const auto start = std::chrono::steady_clock::now();
            while (!gStop.load() &&
                   std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() <
                       seconds) {
                (void)link.sendFrame(frame, {}, lumarok::FrameStart::paced, 0);
                ++frames;
            }
        }
        std::printf("frames_sent %llu\n", static_cast<unsigned long long>(frames));
        return 0;
    } catch (const lumarok::DiscoveryCancelled&) {
        std::puts("discovery cancelled");
        return 3;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumarok-link-probe: %s\n", error.what());
        return 1;
    }
}
