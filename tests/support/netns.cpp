#include "support/netns.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lumarok::test {

namespace {

std::atomic<int> gPairs{0};

// Runs a command, quietly; true on success.
bool run(const std::string& command) {
    const std::string quiet = command + " >/dev/null 2>&1";
    return std::system(quiet.c_str()) == 0;
}

void must(const std::string& command) {
    if (!run(command)) {
        throw std::runtime_error("failed: " + command);
    }
}

bool sameFile(const char* a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a, &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Namespaces left by a test run that was killed before its destructors ran: their
// names carry the pid of a process that no longer exists.
void removeOrphans() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", error)) {
        const std::string name = entry.path().filename().string();
        for (const std::string prefix : {"lrk_play_", "lrk_dev_"}) {
            if (name.rfind(prefix, 0) != 0) {
                continue;
            }
            const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                run("ip netns del " + name);
            }
        }
    }
}

} // namespace

NetnsPair::NetnsPair() {
    removeOrphans();
    const std::string suffix =
        std::to_string(::getpid()) + "_" + std::to_string(gPairs.fetch_add(1));
    playerName = "lrk_play_" + suffix;
    deviceName = "lrk_dev_" + suffix;
    if (!run("ip netns add " + playerName)) {
        throw NetnsUnavailable("'ip netns add' is not permitted here");
    }
    try {
        must("ip netns add " + deviceName);
        must("ip -n " + playerName + " link add lrk0 type veth peer name lrk1 netns " + deviceName);
        must("ip -n " + playerName + " link set lo up");
        must("ip -n " + deviceName + " link set lo up");
        must("ip -n " + playerName + " addr add " + kPlayerAddress + "/24 dev lrk0");
        must("ip -n " + deviceName + " addr add " + kDeviceAddress + "/24 dev lrk1");
        must("ip -n " + playerName + " link set lrk0 up");
        must("ip -n " + deviceName + " link set lrk1 up");
        must("ip -n " + playerName + " route add default via " + kDeviceAddress + " dev lrk0");
    } catch (...) {
        run("ip netns del " + playerName);
        run("ip netns del " + deviceName);
        throw;
    }
}

NetnsPair::~NetnsPair() {
    run("ip netns del " + playerName);
    run("ip netns del " + deviceName);
}

void NetnsPair::addDeviceAddress(const std::string& cidr) const {
    must("ip -n " + deviceName + " addr add " + cidr + " dev lrk1");
}

NetnsStar::NetnsStar() {
    removeOrphans();
    const std::string suffix =
        std::to_string(::getpid()) + "_" + std::to_string(gPairs.fetch_add(1));
    names = {"lrk_play_" + suffix, "lrk_dev_" + suffix + "_a", "lrk_dev_" + suffix + "_b",
             "lrk_dev_" + suffix + "_c"};
    if (!run("ip netns add " + names[0])) {
        names.clear();
        throw NetnsUnavailable("'ip netns add' is not permitted here");
    }
    const auto link = [](const std::string& a, const std::string& aEnd, const std::string& aCidr,
                         const std::string& b, const std::string& bEnd, const std::string& bCidr) {
        must("ip -n " + a + " link add " + aEnd + " type veth peer name " + bEnd + " netns " + b);
        // With a broadcast address, as a DHCP-configured interface has.
        must("ip -n " + a + " addr add " + aCidr + " brd + dev " + aEnd);
        must("ip -n " + b + " addr add " + bCidr + " brd + dev " + bEnd);
        must("ip -n " + a + " link set " + aEnd + " up");
        must("ip -n " + b + " link set " + bEnd + " up");
    };
    try {
        for (std::size_t i = 1; i < names.size(); ++i) {
            must("ip netns add " + names[i]);
        }
        for (const std::string& name : names) {
            must("ip -n " + name + " link set lo up");
        }
        link(names[0], "lrka", "10.213.0.1/26", names[1], "lrk1", "10.213.0.2/26");
        link(names[0], "lrkb", "10.213.0.65/26", names[2], "lrk1", "10.213.0.66/26");
        link(names[2], "lrk2", "10.213.0.129/26", names[3], "lrk1", "10.213.0.130/26");
        // The sysctl is the device B namespace's own.
        must("ip netns exec " + names[2] + " sysctl -qw net.ipv4.ip_forward=1");
        must("ip -n " + names[0] + " route add 10.213.0.128/26 via 10.213.0.66 dev lrkb");
        must("ip -n " + names[3] + " route add default via 10.213.0.129 dev lrk1");
    } catch (...) {
        for (const std::string& name : names) {
            run("ip netns del " + name);
        }
        throw;
    }
}

NetnsStar::~NetnsStar() {
    for (const std::string& name : names) {
        run("ip netns del " + name);
    }
}

NetnsProcess::NetnsProcess(const std::string& netns, const std::vector<std::string>& argv,
                           const std::string& stdoutPath, const std::string& stderrPath,
                           const std::string& workingDirectory) {
    // The guard runs inside the namespace: `ip netns identify $$` must name it.
    const std::string guard =
        "[ \"$(ip netns identify $$)\" = \"$0\" ] || "
        "{ echo \"refusing: not inside network namespace $0\" >&2; exit 97; }; exec \"$@\"";
    std::vector<std::string> full{"ip", "netns", "exec", netns, "sh", "-c", guard, netns};
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& a : full) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);

    child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
            ::_exit(96);
        }
        if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) {
            ::_exit(95);
        }
        ::execvp(args[0], args.data());
        ::_exit(94);
    }
}

NetnsProcess::~NetnsProcess() {
    if (child > 0 && !reaped) {
        signal(SIGTERM);
        if (wait(std::chrono::seconds(5)) < 0) {
            signal(SIGKILL);
            wait(std::chrono::seconds(5));
        }
    }
}

void NetnsProcess::signal(int number) const {
    if (child > 0 && !reaped) {
        ::kill(child, number);
    }
}

int NetnsProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reaped) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            reaped = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void runInNetns(const std::string& netns, const std::function<void()>& work) {
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            const std::string path = "/run/netns/" + netns;
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
                if (fd >= 0) {
                    ::close(fd);
                }
                throw std::runtime_error("cannot enter network namespace " + netns);
            }
            ::close(fd);
            // The same proof as `ip netns identify`, for this thread.
            if (!sameFile("/proc/thread-self/ns/net", path)) {
                throw std::runtime_error("not inside network namespace " + netns);
            }
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool waitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (readFile(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace lumarok::test
