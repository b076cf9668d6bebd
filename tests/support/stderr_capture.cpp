#include "support/stderr_capture.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace lumarok::test {

StderrCapture::StderrCapture() {
    char pattern[] = "/tmp/lumarok-stderr-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "mkstemp");
    }
    path = pattern;
    std::fflush(stderr);
    savedFd = dup(2);
    dup2(fd, 2);
    close(fd);
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    dup2(savedFd, 2);
    close(savedFd);
    unlink(path.c_str());
}

std::string StderrCapture::text() const {
    std::fflush(stderr);
    std::ifstream in(path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

ScopedEnv::ScopedEnv(const char* name_, const std::string& value) : name(name_) {
    if (const char* current = std::getenv(name_)) {
        hadValue = true;
        previous = current;
    }
    setenv(name_, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadValue) {
        setenv(name.c_str(), previous.c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

} // namespace lumarok::test
