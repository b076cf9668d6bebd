#pragma once

#include "virtual_projector.hpp"

#include <optional>
#include <string>
#include <vector>

namespace lumarok::cube {

struct Options {
    VirtualProjector::Config projector;
    VirtualProjector::Lies lies;
    double seconds = 0.0;               // 0: run until SIGINT or SIGTERM
    std::string picture;                // last drawn frame, .svg or .png
    std::string dump;                   // frames as JSON lines
    double dumpAfter = 0.0;             // seconds after start before frames are dumped
    int dumpFrames = 100;               // at most this many
    std::string frameLog;               // one line per frame: counter, arrival, size, signature
    int reportMilliseconds = 10;        // buffer-free report interval
    bool progress = false;              // a line of running counts every second
    double silentAfter = -1.0;          // seconds after start when reports stop; < 0: never
    std::optional<Ipv4Address> address; // own address to bind; nullopt: all of the namespace's
    int reportBurst = 1;                // reports sent each interval (a flood when large)
    int infoEveryMs = 0;                // unsolicited DeviceInfo while switched on; 0: never
    int infoBytes = 0;                  // those cut to this many bytes; 0: whole
    bool lenient = false;               // answer to any source port and heed any; else 45457 only
    bool help = false;
};

extern const char* const kUsage;

// Throws std::invalid_argument with a message for the user.
Options parseOptions(const std::vector<std::string>& arguments);

} // namespace lumarok::cube
