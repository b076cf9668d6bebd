#include "relay_options.hpp"

#include "tool_options.hpp"

#include <stdexcept>

namespace lumarok::relay {

const char* const kUsage =
    "usage: lumarok-relay --listen A.B.C.D --device E.F.G.H [options]\n"
    "Relays the projector's UDP ports 45457 and 45458 between a player and a\n"
    "projector, each datagram late and perhaps lost, in order. What the player sends\n"
    "to the listen address goes to the same port of the device; what the device sends\n"
    "goes to port 45457 of the last other address that sent to the relay. A datagram\n"
    "sent from port 45457 or 45458 leaves from the same port; from any other port, it\n"
    "leaves from a port the system chose.\n"
    "  --listen ADDR        own IPv4 address to bind both ports to\n"
    "  --device ADDR        the projector's IPv4 address\n"
    "  --delay-ms N         one-way delay, each way (0)\n"
    "  --loss PERCENT       chance that a datagram is dropped, each way (0)\n"
    "  --seed N             seed of the drops (1)\n"
    "  --seconds S          stop after S seconds (default: at SIGINT or SIGTERM)\n"
    "Prints 'listening' when ready and on exit the counts to_device_forwarded,\n"
    "to_device_dropped, to_player_forwarded, to_player_dropped, no_player (from the\n"
    "device before any player sent), in_flight (still delayed at the end) and\n"
    "send_failures.\n";

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= arguments.size()) {
                throw std::invalid_argument(option + " needs a value");
            }
            return arguments[++i];
        };
        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--listen") {
            options.listen = tools::addressOption(option, value());
        } else if (option == "--device") {
            options.device = tools::addressOption(option, value());
        } else if (option == "--delay-ms") {
            options.delayMs = tools::numberOption(option, value(), 0, 60000);
        } else if (option == "--loss") {
            options.lossPercent = tools::numberOption(option, value(), 0, 100);
        } else if (option == "--seed") {
            options.seed =
                static_cast<std::uint32_t>(tools::numberOption(option, value(), 0, 4294967295.0));
        } else if (option == "--seconds") {
            options.seconds = tools::numberOption(option, value(), 0, 1e7);
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    if (!options.help && (!options.listen || !options.device)) {
        throw std::invalid_argument("--listen and --device are both needed");
    }
    return options;
}

} // namespace lumarok::relay
