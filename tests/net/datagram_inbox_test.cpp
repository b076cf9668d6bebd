// Reading a socket's waiting datagrams in batches, each with when it came.
#include "net/datagram_inbox.hpp"

#include "net/udp_socket.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace lumarok {
namespace {

TEST(DatagramInbox, ReadsEveryWaitingDatagramInOrderWithItsTimeThenNothing) {
    UdpSocket receiver(1);
    receiver.bind("127.0.0.1", 0);
    UdpSocket sender(0);
    DatagramInbox inbox(receiver.nativeHandle());
    const auto before = std::chrono::steady_clock::now();
    // More than one batch, and one longer than the buffer, which comes cut.
    std::vector<std::string> sent;
    for (int i = 0; i < 11; ++i) {
        sent.push_back(std::string(i == 5 ? 5000 : 3 + i, static_cast<char>('a' + i)));
        sender.sendTo({kLoopbackAddress, receiver.localPort()},
                      std::as_bytes(std::span<const char>(sent.back())));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::vector<std::string> heard;
    const std::size_t count = inbox.drain([&](const HeardDatagram& d) {
        heard.emplace_back(reinterpret_cast<const char*>(d.bytes.data()), d.bytes.size());
        EXPECT_EQ(d.source, kLoopbackAddress);
        EXPECT_GE(d.heard, before);
        EXPECT_LE(d.heard, std::chrono::steady_clock::now());
        EXPECT_GT(d.heard, std::chrono::steady_clock::now() - DatagramInbox::kOldest -
                               std::chrono::milliseconds(1));
    });
    ASSERT_EQ(count, sent.size());
    sent[5].resize(4096);
    EXPECT_EQ(heard, sent);
    EXPECT_EQ(inbox.drain([](const HeardDatagram&) { ADD_FAILURE() << "nothing waits"; }), 0u);
}

} // namespace
} // namespace lumarok
