#include "cube_options.hpp"

#include "tool_options.hpp"

#include <stdexcept>

namespace lumarok::cube {

const char* const kUsage =
    "usage: lumarok-cube [options]\n"
    "A virtual projector: answers discovery on UDP 45457, plays sample packets from\n"
    "UDP 45458 in real time and reports its free buffer to the player. It heeds only\n"
    "datagrams sent from port 45457 (the others are counted in foreign_port) and sends\n"
    "its device informations and buffer reports to port 45457 of the player.\n"
    "  --name NAME          device name sent in discovery answers (lumarok-cube)\n"
    "  --address ADDR       listen on this own IPv4 address only and answer broadcasts\n"
    "                       only from its interface, so that several virtual\n"
    "                       projectors share one namespace (default: all addresses)\n"
    "  --kind etherdream|idn  a virtual Ether Dream DAC or IDN unit instead (see\n"
    "                       --kind etherdream --help, --kind idn --help)\n"
    "  --lenient            heed datagrams from any port and answer to the port they\n"
    "                       came from, for players that listen on a port of their own\n"
    "  --sample-rate N      samples per second played (30000)\n"
    "  --buffer-size N      buffer size in samples (6000)\n"
    "  --report-ms N        interval of buffer-free reports in ms (10)\n"
    "  --silent-after S     stop sending buffer-free reports S seconds after start,\n"
    "                       as a projector whose status channel died (never)\n"
    "Fault options (lies for tests):\n"
    "  --claim-sample-rate N  state this rate in DeviceInfo (0..4294967295), play at\n"
    "                       --sample-rate all the same\n"
    "  --claim-buffer-size N  state this buffer size in DeviceInfo (0..65535)\n"
    "  --report-free N      every free-space report says N (0: full for ever)\n"
    "  --report-burst N     send N reports each interval (a flood)\n"
    "  --info-address A.B.C.D  DeviceInfo names this address as the device's own\n"
    "  --info-every-ms N    send an unsolicited DeviceInfo every N ms while on\n"
    "  --info-bytes N       cut those unsolicited ones to N bytes\n"
    "  --progress           print 'progress SECONDS packets frames samples underruns\n"
    "                       overflows' every second\n"
    "  --hide-address       answer discovery with 0.0.0.0 as own address\n"
    "  --seconds S          stop after S seconds (default: at SIGINT or SIGTERM)\n"
    "  --picture PATH       write the last drawn frame there, PNG for *.png, else SVG\n"
    "  --dump PATH          write received frames as JSON lines\n"
    "  --dump-after S       only frames completed S seconds after start (0)\n"
    "  --dump-frames N      at most N frames (100)\n"
    "  --frame-log PATH     one line per frame: frame counter, arrival of its first\n"
    "                       packet (monotonic seconds), samples, signature of the lit part,\n"
    "                       when its first sample plays (monotonic seconds), index, x\n"
    "                       and y of its first lit sample (-1 0 0 when none is lit)\n"
    "On exit it prints counts, one per line: packets, frames, samples, underruns,\n"
    "overflows, dropped_samples, malformed, message_gaps, frame_gaps, switch_commands,\n"
    "discovery_requests, report_failures, out_of_range_samples (a field above 4095),\n"
    "last_sample_lit (1 when the last sample received is lit), switched_off_at_us\n"
    "(arrival of the last switch-off on the monotonic clock, 0 if none), lit_starved_ms\n"
    "(time its buffer stood empty while on with a lit last sample), largest_burst (most\n"
    "sample packets in a row less than 0.5 ms apart), max_samples_100ms (most samples\n"
    "received in any 100 ms), foreign_port (datagrams ignored for their source port).\n";

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
        } else if (option == "--name") {
            options.projector.name = value();
        } else if (option == "--lenient") {
            options.lenient = true;
        } else if (option == "--address") {
            options.address = tools::addressOption(option, value());
        } else if (option == "--sample-rate") {
            options.projector.sampleRate =
                static_cast<std::int32_t>(tools::numberOption(option, value(), 1, 1e7));
        } else if (option == "--buffer-size") {
            options.projector.bufferSize =
                static_cast<std::int32_t>(tools::numberOption(option, value(), 1, 65535));
        } else if (option == "--report-ms") {
            options.reportMilliseconds =
                static_cast<int>(tools::numberOption(option, value(), 1, 10000));
        } else if (option == "--progress") {
            options.progress = true;
        } else if (option == "--silent-after") {
            options.silentAfter = tools::numberOption(option, value(), 0, 1e7);
        } else if (option == "--claim-sample-rate") {
            options.lies.claimedSampleRate =
                static_cast<std::int64_t>(tools::numberOption(option, value(), 0, 4294967295.0));
        } else if (option == "--claim-buffer-size") {
            options.lies.claimedBufferSize =
                static_cast<std::int32_t>(tools::numberOption(option, value(), 0, 65535));
        } else if (option == "--report-free") {
            options.lies.reportedFree =
                static_cast<std::int32_t>(tools::numberOption(option, value(), 0, 65535));
        } else if (option == "--report-burst") {
            options.reportBurst = static_cast<int>(tools::numberOption(option, value(), 1, 100000));
        } else if (option == "--info-address") {
            // An unreadable address makes it tell the truth.
            options.lies.claimedAddress = Ipv4Address::parse(value());
        } else if (option == "--info-every-ms") {
            options.infoEveryMs = static_cast<int>(tools::numberOption(option, value(), 1, 100000));
        } else if (option == "--info-bytes") {
            options.infoBytes = static_cast<int>(tools::numberOption(option, value(), 1, 4096));
        } else if (option == "--hide-address") {
            options.projector.hideAddress = true;
        } else if (option == "--seconds") {
            options.seconds = tools::numberOption(option, value(), 0, 1e7);
        } else if (option == "--picture") {
            options.picture = value();
        } else if (option == "--dump") {
            options.dump = value();
        } else if (option == "--frame-log") {
            options.frameLog = value();
        } else if (option == "--dump-after") {
            options.dumpAfter = tools::numberOption(option, value(), 0, 1e7);
        } else if (option == "--dump-frames") {
            options.dumpFrames = static_cast<int>(tools::numberOption(option, value(), 0, 1e6));
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    return options;
}

} // namespace lumarok::cube
