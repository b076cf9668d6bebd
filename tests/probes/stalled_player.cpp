// lumarok-stalled-player: the player with one render that takes longer, for the tests
// that show a stalled render is bridged with dark samples.
// Usage: lumarok-stalled-player AFTER_SECONDS STALL_MILLISECONDS [lumarok options...]
#include "app/show_runner.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: lumarok-stalled-player AFTER_SECONDS STALL_MS [options]\n", stderr);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto after = std::chrono::duration<double>(std::strtod(argv[1], nullptr));
    const auto stall = std::chrono::milliseconds(std::strtol(argv[2], nullptr, 10));
    std::vector<char*> arguments{argv[0]};
    arguments.insert(arguments.end(), argv + 3, argv + argc);
    arguments.push_back(nullptr);
    return lumarok::runShow(
        static_cast<int>(arguments.size() - 1), arguments.data(),
        [after, stall](lumarok::LaserFrameBuilder inner) -> lumarok::LaserFrameBuilder {
            const Clock::time_point at =
                Clock::now() + std::chrono::duration_cast<Clock::duration>(after);
            auto armed = std::make_shared<bool>(true);
            return [inner, at, stall, armed](std::vector<lumarok::LaserSample>& samples,
                                             glm::vec2 beam, double& showSeconds,
                                             Clock::time_point drawFor) {
                if (*armed && Clock::now() >= at) {
                    *armed = false;
                    std::this_thread::sleep_for(stall);
                }
                return inner(samples, beam, showSeconds, drawFor);
            };
        });
}
