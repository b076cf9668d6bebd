// The OSC provider fed by a real OSC sender program over loopback.
#include "clock/osc_time_provider.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lumarok {
namespace {

bool onPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs oscsend to 127.0.0.1 and returns its exit status (-1 when it could not run).
int runOscSend(std::uint16_t port, const std::string& types, const std::string& value) {
    std::vector<std::string> args{"oscsend", "127.0.0.1", std::to_string(port),
                                  "/Time",   types,       value};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "oscsend", nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// The datagram is normally pending once the sender has exited; allow a moment regardless.
double timeOnceChanged(OscTimeProvider& provider, double previous) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    double now = provider.getTime();
    while (now == previous && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        now = provider.getTime();
    }
    return now;
}

TEST(OscSend, ProviderFollowsTimeMessagesFromARealSender) {
    if (!onPath("oscsend")) {
        GTEST_SKIP() << "oscsend (liblo-tools) is not installed";
    }
    OscTimeProvider provider(0);
    ASSERT_EQ(provider.getTime(), 0.0);

    ASSERT_EQ(runOscSend(provider.port(), "f", "12.5"), 0);
    EXPECT_EQ(timeOnceChanged(provider, 0.0), 12.5);

    ASSERT_EQ(runOscSend(provider.port(), "i", "7"), 0);
    EXPECT_EQ(timeOnceChanged(provider, 12.5), 7.0);

    // A message the provider cannot use leaves the time where it was.
    ASSERT_EQ(runOscSend(provider.port(), "s", "later"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(provider.getTime(), 7.0);
    EXPECT_EQ(provider.droppedDatagrams(), 1u);
}

} // namespace
} // namespace lumarok
