#pragma once

#include <string>

namespace lumarok::test {

// Sends this process's stderr (fd 2, all threads) into a file while it lives,
// and lets a test read what has been written so far.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string text() const;

private:
    std::string path;
    int savedFd = -1;
};

// Sets an environment variable for one scope and restores the previous value.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name;
    bool hadValue = false;
    std::string previous;
};

} // namespace lumarok::test
