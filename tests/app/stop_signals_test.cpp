#include "app/stop_signals.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>

namespace lumarok {
namespace {

TEST(StopSignals, EveryStopSignalSetsTheFlagAndABrokenPipeIsIgnored) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        const StopSignals stop;
        EXPECT_FALSE(stop.stopRequested());
        ASSERT_EQ(std::raise(signal), 0);
        EXPECT_TRUE(stop.stopRequested()) << signal;
    }
    const StopSignals stop;
    ASSERT_EQ(std::raise(SIGPIPE), 0); // would end the process if not ignored
    EXPECT_FALSE(stop.stopRequested());
}

TEST(StopSignals, PreviousHandlersComeBackAndOnlyOneInstanceAtATime) {
    struct sigaction before {};
    ASSERT_EQ(sigaction(SIGINT, nullptr, &before), 0);
    {
        const StopSignals stop;
        EXPECT_THROW(StopSignals{}, std::logic_error);
    }
    struct sigaction after {};
    ASSERT_EQ(sigaction(SIGINT, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    const StopSignals again; // installable again once the first is gone
    EXPECT_FALSE(again.stopRequested());
}

} // namespace
} // namespace lumarok
