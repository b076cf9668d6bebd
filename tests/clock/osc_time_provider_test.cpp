#include "clock/osc_time_provider.hpp"

#include "clock/osc_bytes.hpp"
#include "net/udp_socket.hpp"
#include "support/stderr_capture.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <system_error>

namespace lumarok {
namespace {

using namespace lumarok::test;

// A provider on a port of the system's choosing and a socket that sends to it over loopback.
// Loopback delivery is complete when sendto returns, so a datagram sent is pending at once.
class OscTimeProviderTest : public ::testing::Test {
protected:
    void send(const Bytes& datagram) {
        sender.sendTo({kLoopbackAddress, provider.port()}, datagram);
    }

    OscTimeProvider provider{0};
    UdpSocket sender{0};
};

TEST_F(OscTimeProviderTest, StartsAtZeroAndKeepsTheLastTimeWhenMessagesStop) {
    EXPECT_EQ(provider.getTime(), 0.0);
    send(timeMessage(3.25F));
    EXPECT_EQ(provider.getTime(), 3.25);
    EXPECT_EQ(provider.getTime(), 3.25);
    EXPECT_EQ(provider.getTime(), 3.25);
}

// On the beat: the last /Time runs on with the steady clock from its arrival, at most
// runOnSeconds (2 s here) either way; a repeated time (the music paused) stands; each new
// /Time starts it afresh. getTime stays the last /Time as it came.
TEST_F(OscTimeProviderTest, TimeAtRunsOnFromTheLastTimeCappedAndNeverPastALaterOne) {
    using std::chrono::milliseconds;
    using Clock = std::chrono::steady_clock;
    EXPECT_EQ(provider.timeAt(Clock::now() + milliseconds(500)), 0.0); // none yet
    const Clock::time_point sent = Clock::now();
    send(timeMessage(10.0F));
    EXPECT_NEAR(provider.timeAt(sent + milliseconds(500)), 10.5, 0.05);
    EXPECT_NEAR(provider.timeAt(sent - milliseconds(100)), 9.9, 0.05);
    EXPECT_NEAR(provider.timeAt(sent + milliseconds(60000)), 12.0, 0.05); // capped
    EXPECT_NEAR(provider.timeAt(sent - milliseconds(60000)), 8.0, 0.05);  // either way
    EXPECT_EQ(provider.getTime(), 10.0);

    const Clock::time_point later = Clock::now();
    send(timeMessage(10.1F)); // earlier than 10.0 run on till now would say: it wins
    EXPECT_NEAR(provider.timeAt(later + milliseconds(200)), 10.3, 0.05);
    send(timeMessage(10.1F)); // the same again: the music stands
    EXPECT_NEAR(provider.timeAt(Clock::now() + milliseconds(900)), 10.1, 1e-6);
    send(timeMessage(3.0F)); // relocated back: followed at once, and running
    EXPECT_NEAR(provider.timeAt(Clock::now() + milliseconds(300)), 3.3, 0.05);
}

TEST_F(OscTimeProviderTest, HandlesEveryPendingDatagramInArrivalOrder) {
    send(timeMessage(10.0F));
    send(timeMessage(12.5F));
    EXPECT_EQ(provider.getTime(), 12.5);

    send(timeMessage(20.0F));
    send(message("/Time", ",i", intArgument(7)));
    send(message("/Other", ",f", floatArgument(99.0F)));
    EXPECT_EQ(provider.getTime(), 7.0);
    EXPECT_EQ(provider.droppedDatagrams(), 0u);
}

TEST_F(OscTimeProviderTest, MalformedDatagramIsDroppedAndTheLoopGoesOn) {
    send(timeMessage(5.0F));
    send(message("/Time", ",s", oscString("x")));      // wrong type
    send(message("/Time", "f", floatArgument(50.0F))); // no comma
    send({});                                          // empty
    send(bundle({element(timeMessage(6.0F)), element(timeMessage(60.0F), 200)}));
    EXPECT_EQ(provider.getTime(), 6.0) << "the bundle's first element stays";
    EXPECT_EQ(provider.droppedDatagrams(), 4u);

    send(message("/Time", ",f", {})); // a failed message leaves the last good time
    send(timeMessage(7.0F));
    EXPECT_EQ(provider.getTime(), 7.0);
    EXPECT_EQ(provider.droppedDatagrams(), 5u);
}

TEST_F(OscTimeProviderTest, DatagramLongerThanTheBufferIsDroppedWhole) {
    // A valid bundle whose first element would set 99 if the cut datagram were parsed.
    const Bytes filler = message("/Other", ",b", Bytes(1100, std::byte{0}));
    send(bundle({element(timeMessage(99.0F)), element(filler)}));
    send(timeMessage(1.0F));
    EXPECT_EQ(provider.getTime(), 1.0);
    EXPECT_EQ(provider.droppedDatagrams(), 1u);
}

TEST_F(OscTimeProviderTest, DatagramFillingTheBufferExactlyIsHandled) {
    const Bytes head = bundle({element(timeMessage(2.0F))});
    const std::size_t fillerSize = OscTimeProvider::kDatagramCapacity - head.size() - 4;
    const Bytes filler =
        concat({message("/Other", ",", {}), Bytes(fillerSize - message("/Other", ",", {}).size())});
    const Bytes full = concat({head, element(filler)});
    ASSERT_EQ(full.size(), OscTimeProvider::kDatagramCapacity);
    send(full);
    EXPECT_EQ(provider.getTime(), 2.0);
    EXPECT_EQ(provider.droppedDatagrams(), 0u);
}

TEST(OscTimeProvider, SecondProviderOnAPortInUseFailsAndReleasesItsSocket) {
    const OscTimeProvider first(0);
    const int users = socketUsers();
    try {
        const OscTimeProvider second(first.port());
        ADD_FAILURE() << "second bind succeeded";
    } catch (const std::system_error& error) {
        const std::string expected =
            "Bind failed on 0.0.0.0:" + std::to_string(first.port()) + ": ";
        EXPECT_EQ(std::string(error.what()).rfind(expected, 0), 0u) << error.what();
        EXPECT_EQ(error.code().value(), EADDRINUSE);
    }
    EXPECT_EQ(socketUsers(), users);
}

// Loopback answers on all of 127/8, so a second sender address needs no set-up.
TEST(OscTimeProvider, TakesTimeOnlyFromAllowedSendersOnItsOwnAddress) {
    const test::StderrCapture errors;
    OscTimeProvider provider(OscSettings{
        0, "127.0.0.1", {AddressRange::parse("127.0.0.1"), AddressRange::parse("10.0.0.0/8")}});
    EXPECT_EQ(provider.listenText(), "127.0.0.1:" + std::to_string(provider.port()));
    UdpSocket allowed{0};
    allowed.bind("127.0.0.1", 0);
    UdpSocket stranger{0};
    stranger.bind("127.0.0.2", 0);

    EXPECT_FALSE(provider.timeReceived());
    for (int i = 0; i < 3; ++i) {
        stranger.sendTo({kLoopbackAddress, provider.port()}, timeMessage(50.0F));
    }
    EXPECT_EQ(provider.getTime(), 0.0);
    EXPECT_FALSE(provider.timeReceived());
    EXPECT_EQ(provider.refusedDatagrams(), 3u);
    allowed.sendTo({kLoopbackAddress, provider.port()},
                   message("/Time", ",d", concat({intArgument(0x40340000), intArgument(0)})));
    EXPECT_EQ(provider.getTime(), 20.0);
    EXPECT_TRUE(provider.timeReceived());
    EXPECT_EQ(provider.droppedDatagrams(), 0u);

    const std::string text = errors.text();
    EXPECT_EQ(text,
              "lumarok: OSC datagram from 127.0.0.2 refused (not an --osc-from sender), 1 so far\n")
        << "one line per interval";
}

} // namespace
} // namespace lumarok
