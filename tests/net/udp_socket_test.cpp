#include "net/udp_socket.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <exception>
#include <functional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include <sys/resource.h>
#include <sys/socket.h>

namespace lumarok {
namespace {

using namespace std::chrono_literals;

std::span<const std::byte> asBytes(const std::string& text) {
    return std::as_bytes(std::span<const char>(text.data(), text.size()));
}

// Runs f and returns the system_error it throws (fails the test when it throws none).
template <typename F> std::system_error expectSystemError(F&& f) {
    try {
        f();
    } catch (const std::system_error& error) {
        return error;
    }
    ADD_FAILURE() << "no std::system_error thrown";
    return std::system_error(0, std::system_category(), "none");
}

TEST(UdpSocket, CountsItsUsersAndReleasesThemOnDestruction) {
    const int before = socketUsers();
    {
        const UdpSocket first(1);
        EXPECT_EQ(socketUsers(), before + 1);
        {
            const UdpSocket second(0);
            EXPECT_EQ(socketUsers(), before + 2);
        }
        EXPECT_EQ(socketUsers(), before + 1);
    }
    EXPECT_EQ(socketUsers(), before);
}

TEST(UdpSocket, BindToPortInUseReportsBindFailedWithTheSystemReason) {
    UdpSocket owner(1);
    owner.bind(0);
    const int before = socketUsers();
    {
        UdpSocket second(1);
        const int withSecond = socketUsers();
        const auto error = expectSystemError([&] { second.bind(owner.localPort()); });
        EXPECT_EQ(error.code(), std::error_code(EADDRINUSE, std::system_category()));
        EXPECT_STREQ(error.what(), "Bind failed: Address already in use");
        // A failed bind leaves the socket open: its owner decides.
        EXPECT_EQ(socketUsers(), withSecond);
        second.bind(0);
        EXPECT_NE(second.localPort(), owner.localPort());
    }
    EXPECT_EQ(socketUsers(), before);
}

TEST(UdpSocket, FailedOpenLeavesTheUserCountAsItWas) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own while the error is "
                    "raised, so running out of them is tested in the plain build";
#endif
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    // Find the lowest free descriptor and forbid any at or above it.
    std::vector<int> probe;
    {
        const UdpSocket free(0);
        probe.push_back(free.nativeHandle());
    }
    rlimit tight = original;
    tight.rlim_cur = static_cast<rlim_t>(probe.front());
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const int before = socketUsers();
    // Only hold on to the exception while descriptors are short: the sanitizers'
    // own checks of its type need descriptors of their own.
    std::exception_ptr thrown;
    try {
        const UdpSocket socket(1);
    } catch (...) {
        thrown = std::current_exception();
    }
    ::setrlimit(RLIMIT_NOFILE, &original);
    ASSERT_TRUE(thrown) << "opening a socket without a free descriptor succeeded";
    const auto error = expectSystemError([&] { std::rethrow_exception(thrown); });
    EXPECT_EQ(socketUsers(), before);
    EXPECT_EQ(error.code().value(), EMFILE);
    EXPECT_EQ(std::string(error.what()).rfind("Error opening socket: ", 0), 0u) << error.what();
}

TEST(UdpSocket, NonBlockingReceiveReturnsAtOnceWhenNothingWaits) {
    UdpSocket socket(1);
    socket.bind(0);
    std::array<std::byte, 16> buffer{};
    const auto start = std::chrono::steady_clock::now();
    const ReceiveResult result = socket.receive(buffer);
    EXPECT_TRUE(result.error == EAGAIN || result.error == EWOULDBLOCK) << result.error;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(UdpSocket, BlockingReceiveWaitsUntilItsTimeout) {
    UdpSocket socket(0);
    socket.bind(0);
    socket.setReceiveTimeout(50ms);
    std::array<std::byte, 16> buffer{};
    const auto start = std::chrono::steady_clock::now();
    const ReceiveResult result = socket.receive(buffer);
    EXPECT_TRUE(result.error == EAGAIN || result.error == EWOULDBLOCK) << result.error;
    // It did block, so the mode really is blocking (the lower bound is not a speed claim).
    EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);
}

TEST(UdpSocket, SendsAndReceivesOverLoopbackAndReportsCutDatagrams) {
    UdpSocket receiver(0);
    receiver.bind(0);
    receiver.setReceiveTimeout(2s);
    UdpSocket sender(0);

    sender.sendTo({kLoopbackAddress, receiver.localPort()}, asBytes("hello"));
    std::array<std::byte, 8> buffer{};
    ReceiveResult result = receiver.receive(buffer);
    ASSERT_EQ(result.error, 0);
    EXPECT_EQ(result.length, 5u);
    EXPECT_FALSE(result.truncated);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), 5), "hello");

    const std::string big(2000, 'x');
    sender.sendTo({kLoopbackAddress, receiver.localPort()}, asBytes(big));
    result = receiver.receive(buffer);
    ASSERT_EQ(result.error, 0);
    EXPECT_TRUE(result.truncated);
    EXPECT_EQ(result.length, 2000u);

    // The cut datagram is gone as a whole; the next one arrives intact.
    sender.sendTo({kLoopbackAddress, receiver.localPort()}, asBytes("next"));
    result = receiver.receive(buffer);
    ASSERT_EQ(result.error, 0);
    EXPECT_EQ(result.length, 4u);
}

TEST(UdpSocket, SendsABatchInOrderAtMostTheLargestBatchAtATime) {
    UdpSocket receiver(1);
    receiver.bind(0);
    UdpSocket sender(0);
    std::vector<std::string> texts;
    std::vector<std::span<const std::byte>> batch;
    for (std::size_t i = 0; i < UdpSocket::kMaxBatch + 2; ++i) {
        texts.push_back("datagram " + std::to_string(i));
    }
    for (const std::string& text : texts) {
        batch.push_back(asBytes(text));
    }
    EXPECT_EQ(sender.sendBatch({kLoopbackAddress, receiver.localPort()}, {}), 0u);
    EXPECT_EQ(sender.sendBatch({kLoopbackAddress, receiver.localPort()}, batch),
              UdpSocket::kMaxBatch);
    std::array<std::byte, 32> buffer{};
    for (std::size_t i = 0; i < UdpSocket::kMaxBatch; ++i) {
        const ReceiveResult result = receiver.receive(buffer);
        ASSERT_EQ(result.error, 0) << i;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), result.length),
                  texts[i]);
    }
    EXPECT_NE(receiver.receive(buffer).error, 0); // the rest was not sent
}

TEST(UdpSocket, EnableBroadcastSetsTheSocketOption) {
    UdpSocket socket(0);
    socket.enableBroadcast();
    int value = 0;
    socklen_t size = sizeof value;
    ASSERT_EQ(::getsockopt(socket.nativeHandle(), SOL_SOCKET, SO_BROADCAST, &value, &size), 0);
    EXPECT_NE(value, 0);
}

} // namespace
} // namespace lumarok
