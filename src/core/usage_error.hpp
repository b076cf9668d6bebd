#pragma once

#include <stdexcept>

namespace lumarok {

// A command line or settings file the program cannot act on: an unknown option, a
// missing or malformed value, or options that contradict each other. what() is one line
// without the hint; the program exits with status 2.
class UsageError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

} // namespace lumarok
