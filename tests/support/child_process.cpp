#include "support/child_process.hpp"
#include "support/paths.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lumarok::test {

namespace {

std::string makeTempFile(const char* stem) {
    std::string path = std::string("/tmp/") + stem + "XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed: " + std::string(std::strerror(errno)));
    }
    close(fd);
    return path;
}

std::vector<std::string> childEnvironment(const ChildOptions& options) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const auto& unset : options.unsetEnv) {
            drop = drop || name == unset;
        }
        for (const auto& [key, value] : options.setEnv) {
            drop = drop || name == key;
        }
        if (!drop) {
            entries.push_back(entry);
        }
    }
    for (const auto& [key, value] : options.setEnv) {
        entries.push_back(key + "=" + value);
    }
    return entries;
}

// execve does not search PATH, and after fork only async-signal-safe calls are allowed,
// so the program is looked up here.
std::string resolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/" + name;
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return name;
}

int decodeStatus(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    if (WIFSIGNALED(raw)) {
        return 128 + WTERMSIG(raw);
    }
    return -1;
}

} // namespace

ChildProcess::ChildProcess(const ChildOptions& options)
    : stdoutPath_(makeTempFile("lumarok-child-out-")),
      stderrPath_(makeTempFile("lumarok-child-err-")) {
    if (options.argv.empty()) {
        throw std::invalid_argument("ChildProcess needs a program");
    }
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> environment = childEnvironment(options);
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = options.argv;
    args[0] = resolveProgram(args[0]);
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int outFd = open(stdoutPath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const int errFd = open(stderrPath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (outFd < 0 || errFd < 0 || nullFd < 0) {
        throw std::runtime_error("cannot open the child's output files");
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(nullFd, STDIN_FILENO);
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        if (options.inheritFd >= 0) {
            fcntl(options.inheritFd, F_SETFD, 0);
        }
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
            _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
    close(nullFd);
    if (pid_ < 0) {
        throw std::runtime_error("fork failed: " + std::string(std::strerror(errno)));
    }
}

ChildProcess::~ChildProcess() {
    stop();
    std::remove(stdoutPath_.c_str());
    std::remove(stderrPath_.c_str());
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
        int raw = 0;
        const pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = decodeStatus(raw);
            break;
        }
        if (done < 0 && errno != EINTR) {
            status_ = -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

void ChildProcess::signal(int signalNumber) const {
    if (!status_) {
        kill(pid_, signalNumber);
    }
}

bool ChildProcess::running() {
    return !waitFor(std::chrono::milliseconds(0));
}

int ChildProcess::stop() {
    if (running()) {
        kill(pid_, SIGTERM);
        if (!waitFor(std::chrono::seconds(3))) {
            kill(pid_, SIGKILL);
            waitFor(std::chrono::seconds(10));
        }
    }
    return status_.value_or(-1);
}

std::string ChildProcess::stdoutText() const {
    return readFile(stdoutPath_);
}
std::string ChildProcess::stderrText() const {
    return readFile(stderrPath_);
}

int runToEnd(const ChildOptions& options, std::chrono::milliseconds timeout, std::string* output) {
    ChildProcess child(options);
    const std::optional<int> status = child.waitFor(timeout);
    if (output != nullptr) {
        *output = child.stdoutText();
    }
    return status.value_or(child.stop());
}

bool onPath(const std::string& name) {
    return name.find('/') == std::string::npos && resolveProgram(name) != name;
}

} // namespace lumarok::test
