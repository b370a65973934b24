#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "App/NetworkInfo.hpp"

namespace vantrel {
namespace {

using NetworkInfo::InterfaceAddress;
using Addresses = std::vector<std::string>;

InterfaceAddress ipv4(const std::string& text) {
    return {.up = true, .loopback = false, .ipv4 = true, .numericHost = text};
}

TEST(NetworkInfoTest, SharedAddressSpaceComesLastAndOtherwiseTheSystemOrderStays) {
    const std::vector<InterfaceAddress> entries = {ipv4("100.101.102.103"), ipv4("192.168.1.20"), ipv4("100.64.0.1"),
                                                   ipv4("100.63.0.1"),      ipv4("100.128.0.1"),  ipv4("192.168.1.20"),
                                                   ipv4("100.127.255.255"), ipv4("10.0.0.2")};
    EXPECT_EQ(NetworkInfo::reachableAddresses(entries),
              (Addresses{"192.168.1.20", "100.63.0.1", "100.128.0.1", "192.168.1.20", "10.0.0.2", "100.101.102.103",
                         "100.64.0.1", "100.127.255.255"}));
}

TEST(NetworkInfoTest, LeavesOutWhatNoPhoneCanReach) {
    InterfaceAddress down = ipv4("192.168.1.21");
    down.up = false;
    InterfaceAddress loopback = ipv4("127.0.0.1");
    loopback.loopback = true;
    const InterfaceAddress ipv6{.up = true, .loopback = false, .ipv4 = false, .numericHost = "fe80::1"};
    const InterfaceAddress unconverted{.up = true, .loopback = false, .ipv4 = true, .numericHost = std::nullopt};
    const std::vector<InterfaceAddress> entries = {down,
                                                   loopback,
                                                   ipv6,
                                                   unconverted,
                                                   ipv4("169.254.10.20"),
                                                   ipv4("1.2.3"),
                                                   ipv4("1.2.3.4.5"),
                                                   ipv4("1.2.3.256"),
                                                   ipv4("1.2.-3.4"),
                                                   ipv4("169.253.0.1"),
                                                   ipv4("127.0.0.2")};
    // Loopback-range and neighbouring addresses on ordinary interfaces stay: who may connect is the
    // peer filter's call.
    EXPECT_EQ(NetworkInfo::reachableAddresses(entries), (Addresses{"169.253.0.1", "127.0.0.2"}));
    EXPECT_TRUE(NetworkInfo::reachableAddresses(std::vector{down, loopback, ipv6}).empty());
}

}  // namespace
}  // namespace vantrel
