#include "status/laser_status.hpp"
#include "status/terminal_relay.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace lumarok {
namespace {

using namespace std::chrono_literals;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

TEST(LaserStatus, LinesComeAtMostOncePerPeriodInTheirStyle) {
    using Style = StatusLine::Style;
    const StatusLine::Clock::time_point t0{};
    struct Case {
        Style style;
        std::string expected;
    };
    const std::vector<Case> cases{
        {Style::plain, "at 10\nat 20.5\n"},
        {Style::terminal, "\rat 10\x1b[K\rat 20.5\x1b[K\n"},
        {Style::off, ""},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<std::FILE, FileCloser> file(std::tmpfile());
        ASSERT_TRUE(file);
        {
            StatusLine line(file.get(), c.style, 10s, t0);
            // Polled often; shown when due, the next period counted from the showing.
            for (const auto at : {0ms, 5000ms, 10000ms, 12000ms, 19999ms, 20500ms, 30000ms}) {
                const auto now = t0 + at;
                if (line.due(now)) {
                    line.show(at == 10000ms ? "at 10" : "at 20.5", now);
                }
            }
        }
        EXPECT_EQ(contents(file.get()), c.expected) << static_cast<int>(c.style);
    }
}

} // namespace
} // namespace lumarok

namespace lumarok {
namespace {

// Restores stderr whatever the test does in between.
class StderrOnto {
public:
    explicit StderrOnto(int fd) : saved(::dup(STDERR_FILENO)) { ::dup2(fd, STDERR_FILENO); }
    ~StderrOnto() {
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    StderrOnto(const StderrOnto&) = delete;
    StderrOnto& operator=(const StderrOnto&) = delete;

private:
    int saved;
};

TEST(LaserStatus, ALineWrittenToStderrComesAboveTheStatusLineNeverIntoIt) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw); // the bytes as written, no \r added
    ::tcsetattr(slave, TCSANOW, &raw);
    {
        const StderrOnto onto(slave);
        TerminalRelay relay;
        relay.show("show 0:01.0  entry 1");
        std::fputs("lumarok: a message\n", stderr);
        std::fputs("and half a line", stderr);
    }
    ::close(slave);
    std::string text;
    char chunk[256];
    for (ssize_t got = 0; (got = ::read(master, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(master);
    const std::string status = "\rshow 0:01.0  entry 1\x1b[K";
    EXPECT_EQ(text, status + "\r\x1b[Klumarok: a message\n" + status + "\r\x1b[Kand half a line\n" +
                        status + "\n");
}

} // namespace
} // namespace lumarok
