#include "net/ipv4_address.hpp"
#include "status/status_sender.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace lumarok {
namespace {

TEST(StatusTarget, OnlyOneHostIsATarget) {
    const std::vector<SubnetBroadcast> subnets{
        {Ipv4Address(0xC0A80AFFu), "eth1"}}; // 192.168.10.0/24
    const struct {
        std::uint32_t host;
        const char* refusal; // "" when the host is taken
    } cases[] = {
        {0x7F000001u, ""}, // 127.0.0.1
        {0xC0A80A14u, ""}, // 192.168.10.20
        {0xA9FE0001u, ""}, // 169.254.0.1, a directly wired desk
        {0xC0A80BFFu, ""}, // 192.168.11.255: not a subnet of ours
        {0x00000000u, "0.0.0.0/8 names no host"},
        {0x00010203u, "0.0.0.0/8 names no host"},
        {0xE0000001u, "a multicast address"},
        {0xEFFFFFFFu, "a multicast address"},
        {0xF0000001u, "reserved (240.0.0.0/4)"},
        {0xFFFFFFFEu, "reserved (240.0.0.0/4)"},
        {0xFFFFFFFFu, "the broadcast address"},
        {0xC0A80AFFu, "the broadcast address of the subnet of eth1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(statusHostRefusal(Ipv4Address(c.host), subnets), c.refusal) << std::hex << c.host;
    }
    // Through this machine's own interfaces: loopback is 127.0.0.0/8 everywhere.
    EXPECT_EQ(parseStatusTarget("127.0.0.1:9000").port, 9000);
    EXPECT_THROW((void)parseStatusTarget("127.255.255.255:9000"), std::invalid_argument);
    EXPECT_THROW((void)parseStatusTarget("240.1.2.3:9000"), std::invalid_argument);
}

TEST(StatusSender, SendErrorsOfAllTargetsShareOneLine) {
    // Sending to the loopback subnet's broadcast address from a socket that may not
    // broadcast fails at once, without a datagram leaving.
    const std::vector<Ipv4Endpoint> targets(200, Ipv4Endpoint{Ipv4Address(0x7FFFFFFFu), 9});
    StatusSender sender(targets);
    testing::internal::CaptureStderr();
    sender.send(ShowHealth{});
    sender.send(ShowHealth{});
    const std::string lines = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << lines;
    EXPECT_NE(lines.find("status to 127.255.255.255:9 not sent"), std::string::npos) << lines;
}

} // namespace
} // namespace lumarok
