#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "App/NetworkInfo.hpp"

namespace vantrel {
namespace {

using NetworkInfo::InterfaceAddress;

InterfaceAddress ipv4(const std::string& text, bool up = true, bool loopback = false) {
    return {.up = up, .loopback = loopback, .ipv4 = true, .numericHost = text};
}

TEST(NetworkInfoTest, SharedAddressSpaceComesLastAndUnreachableAddressesAreLeftOut) {
    const std::vector<InterfaceAddress> entries = {
        ipv4("100.101.102.103"),
        ipv4("192.168.1.20"),
        ipv4("100.64.0.1"),
        ipv4("100.63.0.1"),
        ipv4("100.128.0.1"),
        ipv4("192.168.1.20"),  // on a second interface: listed again
        ipv4("100.127.255.255"),
        ipv4("192.168.1.21", false),
        ipv4("127.0.0.1", true, true),
        ipv4("127.0.0.2"),  // loopback range on an ordinary interface: the peer filter's call
        {.up = true, .loopback = false, .ipv4 = false, .numericHost = "fe80::1"},
        {.up = true, .loopback = false, .ipv4 = true, .numericHost = std::nullopt},
        ipv4("169.254.10.20"),
        ipv4("169.253.0.1"),
        ipv4("1.2.3"),
        ipv4("1.2.3.4.5"),
        ipv4("1.2.3.256"),
        ipv4("1.2.-3.4")};
    EXPECT_EQ(NetworkInfo::reachableAddresses(entries),
              (std::vector<std::string>{"192.168.1.20", "100.63.0.1", "100.128.0.1", "192.168.1.20", "127.0.0.2",
                                        "169.253.0.1", "100.101.102.103", "100.64.0.1", "100.127.255.255"}));
    EXPECT_TRUE(NetworkInfo::reachableAddresses(std::vector{ipv4("10.0.0.1", false)}).empty());
}

}  // namespace
}  // namespace vantrel
