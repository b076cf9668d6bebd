#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace lumarok::test {

struct ChildOptions {
    std::vector<std::string> argv; // argv[0]: a path, or a name looked up in PATH
    std::vector<std::pair<std::string, std::string>> setEnv; // added or replaced
    std::vector<std::string> unsetEnv;
    std::string workingDirectory; // empty: the test's own
    int inheritFd = -1;           // one extra descriptor the child keeps open
};

// A program started by a test, its stdout and stderr collected in files.
// The destructor ends it (SIGTERM, then SIGKILL) if it still runs, by its pid.
class ChildProcess {
public:
    explicit ChildProcess(const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Exit status (128 + signal number when killed), or nothing on timeout.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);
    bool running();
    // Sends a signal if the program has not been reaped yet.
    void signal(int signalNumber) const;
    // Ends the program if it runs and returns its status.
    int stop();
    std::string stdoutText() const;
    std::string stderrText() const;

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string stdoutPath_;
    std::string stderrPath_;
};

// Runs a program to its end; returns its status and, if asked, its stdout.
int runToEnd(const ChildOptions& options, std::chrono::milliseconds timeout,
             std::string* output = nullptr);

// True when `name` is an executable file in some PATH directory.
bool onPath(const std::string& name);

} // namespace lumarok::test
