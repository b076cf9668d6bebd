#include "app/laser_status.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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
