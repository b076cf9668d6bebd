#include "net/ipv4_address.hpp"

#include <gtest/gtest.h>

#include <netinet/in.h>

#include <optional>
#include <string>

namespace lumarok {
namespace {

TEST(Ipv4Address, ParsesDottedTextOnceAndPrintsItBack) {
    const struct {
        const char* text;
        std::optional<std::uint32_t> hostOrder; // nullopt: refused
    } cases[] = {
        {"10.213.0.2", 0x0AD50002u},
        {"0.0.0.0", 0u},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"127.0.0.1", 0x7F000001u},
        {"", std::nullopt},
        {"10.0.0", std::nullopt},
        {"10.0.0.256", std::nullopt},
        {"10.0.0.1.2", std::nullopt},
        {"10.0.0.01", std::nullopt}, // so that text() gives back what was typed
        {" 10.0.0.1", std::nullopt},
        {"10.0.0.1:80", std::nullopt},
        {"stage-left", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::optional<Ipv4Address> parsed = Ipv4Address::parse(c.text);
        ASSERT_EQ(parsed.has_value(), c.hostOrder.has_value()) << c.text;
        if (parsed) {
            EXPECT_EQ(parsed->hostOrder(), *c.hostOrder) << c.text;
            EXPECT_EQ(parsed->text(), c.text);
        }
    }
}

TEST(Ipv4Address, MeetsTheSystemInNetworkByteOrder) {
    const Ipv4Endpoint endpoint{Ipv4Address(0x0A000102u), 45457};
    const sockaddr_in system = socketAddress(endpoint);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&system.sin_addr.s_addr);
    EXPECT_EQ(bytes[0], 10);
    EXPECT_EQ(bytes[3], 2);
    EXPECT_EQ(endpointOf(system), endpoint);
    EXPECT_EQ(Ipv4Address::fromNetworkOrder(endpoint.address.networkOrder()), endpoint.address);
    EXPECT_EQ(endpoint.text(), "10.0.1.2:45457");
}

} // namespace
} // namespace lumarok
