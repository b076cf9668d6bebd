#pragma once

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace lumarok::fuzz {

// Sends standard output to /dev/null while one input runs: the data diagnostics
// would otherwise flood the log, and the driver's own summary must still show.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::close(null);
        }
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;
    ~QuietStdout() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
        }
    }

private:
    int saved_ = -1;
};

} // namespace lumarok::fuzz
