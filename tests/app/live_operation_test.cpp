#include "clock/osc_bytes.hpp"
#include "show/show_control.hpp"
#include "show/show_end.hpp"
#include "status/show_health.hpp"
#include "status/status_sender.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace lumarok {
namespace {

using test::Bytes;

// The message's view as the packet walker hands it over (the bytes are kept aligned).
std::optional<ControlCommand> read(const Bytes& bytes) {
    alignas(4) std::array<std::byte, 256> buffer{};
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    float unused = 0.0f;
    std::optional<ControlCommand> command;
    (void)visitPacket(makePacketView(buffer.data(), bytes.size()), unused,
                      [&](const OscMessageView& m) { command = readControlMessage(m); });
    return command;
}

TEST(LiveControl, MessagesReadAsCommandsAndOthersAreNotControls) {
    using Kind = ControlCommand::Kind;
    struct Case {
        Bytes message;
        std::optional<Kind> kind;
        bool on;
        float percent;
        std::string projector;
    };
    const std::vector<Case> cases{
        {test::message("/lumarok/blackout", ",i", test::intArgument(1)), Kind::blackout, true,
         100.0f, ""},
        {test::message("/lumarok/blackout", ",f", test::floatArgument(0.0f)), Kind::blackout, false,
         100.0f, ""},
        {test::message("/lumarok/intensity", ",f", test::floatArgument(42.5f)), Kind::intensity,
         false, 42.5f, ""},
        {test::message("/lumarok/intensity", ",i", test::intArgument(150)), Kind::intensity, false,
         150.0f, ""},
        {test::message("/lumarok/projector/left/blackout", ",i", test::intArgument(1)),
         Kind::projectorBlackout, true, 100.0f, "left"},
        {test::message("/lumarok/status", ",", {}), Kind::status, false, 100.0f, ""},
        {test::message("/lumarok/projector//blackout", ",i", test::intArgument(1)), std::nullopt,
         false, 0.0f, ""},
        {test::message("/lumarok/other", ",i", test::intArgument(1)), std::nullopt, false, 0.0f,
         ""},
        {test::message("/light/blackout", ",i", test::intArgument(1)), std::nullopt, false, 0.0f,
         ""},
    };
    for (const Case& c : cases) {
        const std::optional<ControlCommand> command = read(c.message);
        ASSERT_EQ(command.has_value(), c.kind.has_value());
        if (command) {
            EXPECT_EQ(command->kind, *c.kind);
            EXPECT_EQ(command->on, c.on);
            EXPECT_FLOAT_EQ(command->percent, c.percent);
            EXPECT_EQ(command->projector, c.projector);
        }
    }
    // A control without its number is malformed, as a /Time without one is.
    EXPECT_THROW((void)read(test::message("/lumarok/blackout", ",", {})), OSCPP::Error);
    EXPECT_THROW((void)read(test::message("/lumarok/intensity", ",s", test::oscString("x"))),
                 OSCPP::Error);
}

TEST(LiveControl, ControlOnlyLowersTheLightAndSaysEachChangeOnce) {
    using Kind = ControlCommand::Kind;
    struct Step {
        ControlCommand command;
        float scaleLeft; // after the step
        float scaleRight;
        bool line; // a change, told
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<Step> steps{
        {{Kind::intensity, false, 50.0f, ""}, 0.5f, 0.5f, true},
        {{Kind::intensity, false, 50.0f, ""}, 0.5f, 0.5f, false},
        {{Kind::intensity, false, 150.0f, ""}, 1.0f, 1.0f, true},
        {{Kind::intensity, false, -20.0f, ""}, 0.0f, 0.0f, true},
        {{Kind::intensity, false, nan, ""}, 0.0f, 0.0f, false},
        {{Kind::intensity, false, 80.0f, ""}, 0.8f, 0.8f, true},
        {{Kind::projectorBlackout, true, 0.0f, "left"}, 0.0f, 0.8f, true},
        {{Kind::blackout, true, 0.0f, ""}, 0.0f, 0.0f, true},
        {{Kind::blackout, true, 0.0f, ""}, 0.0f, 0.0f, false},
        {{Kind::blackout, false, 0.0f, ""}, 0.0f, 0.8f, true},
        {{Kind::projectorBlackout, false, 0.0f, "left"}, 0.8f, 0.8f, true},
        {{Kind::status, false, 0.0f, ""}, 0.8f, 0.8f, false},
    };
    ShowControl control(20.0f);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        EXPECT_EQ(!control.apply(step.command).empty(), step.line) << "step " << i;
        // A projector is known by its device name or by the word it was chosen by.
        EXPECT_FLOAT_EQ(control.scaleFor("10.0.0.7", "left"), step.scaleLeft) << "step " << i;
        EXPECT_FLOAT_EQ(control.scaleFor("right", ""), step.scaleRight) << "step " << i;
        EXPECT_LE(control.level(), 100.0f);
    }
}

TEST(LiveOperation, TheClockIsWaitingLiveOrStaleByItsTimeout) {
    struct Case {
        std::optional<double> silent;
        double timeout;
        ClockState state;
    };
    const std::vector<Case> cases{
        {std::nullopt, 2.0, ClockState::waiting},
        {std::nullopt, 0.0, ClockState::waiting},
        {0.0, 2.0, ClockState::live},
        {1.99, 2.0, ClockState::live},
        {2.0, 2.0, ClockState::stale},
        {3600.0, 2.0, ClockState::stale},
        {3600.0, 0.0, ClockState::live}, // 0: the last time holds for ever
    };
    for (const Case& c : cases) {
        EXPECT_EQ(clockStateFor(c.silent, c.timeout), c.state)
            << c.silent.value_or(-1.0) << " " << c.timeout;
    }
    // The status carries the state last, and "clock live" only while it is live.
    ShowHealth health;
    health.clockSource = "osc";
    health.clockHeard = "/Time";
    health.clockState = ClockState::stale;
    health.clockSilentSeconds = 2.04;
    const std::vector<std::byte> message = statusMessage(health);
    const std::string text(reinterpret_cast<const char*>(message.data()), message.size());
    EXPECT_NE(text.find(std::string(",fsiifis\0", 9)), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 8, 5), "stale");
    EXPECT_EQ(formatHealthLine(health), "clock: no /Time for 2.0 s; dark until it comes back");
    health.clockState = ClockState::waiting;
    health.clockSource = "ltc";
    health.clockHeard = "timecode";
    EXPECT_EQ(formatHealthLine(health), "waiting for timecode");
}

TEST(LiveOperation, AfterTheShowsEndItHoldsGoesDarkOrLoops) {
    struct Case {
        ShowEnd end;
        double clock;
        double drawn;
        bool dark;
    };
    const std::vector<Case> cases{
        {{AtEnd::hold, 60.0, true}, 75.0, 75.0, false},
        {{AtEnd::dark, 60.0, true}, 59.9, 59.9, false},
        {{AtEnd::dark, 60.0, true}, 60.0, 60.0, true},
        {{AtEnd::loop, 60.0, true}, 59.0, 59.0, false},
        {{AtEnd::loop, 60.0, true}, 60.0, 0.0, false},
        {{AtEnd::loop, 60.0, true}, 135.5, 15.5, false},
        // An outside clock decides the time: loop acts as dark.
        {{AtEnd::loop, 60.0, false}, 61.0, 61.0, true},
        {{AtEnd::dark, 60.0, false}, 10.0, 10.0, false},
    };
    for (const Case& c : cases) {
        const EndedClock ended = atShowEnd(c.end, c.clock);
        EXPECT_NEAR(ended.clockSeconds, c.drawn, 1e-9) << c.clock;
        EXPECT_EQ(ended.dark, c.dark) << c.clock;
    }
    EXPECT_EQ(parseAtEnd("loop"), AtEnd::loop);
    EXPECT_EQ(parseAtEnd("Loop"), std::nullopt);
}

} // namespace
} // namespace lumarok
