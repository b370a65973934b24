#include <gtest/gtest.h>

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "App/NetworkInfo.hpp"

namespace vantrel {
namespace {

// The real interface walk in a network namespace of the test's own, with veth pairs.
TEST(NetworkNamespaceTest, ListsTheReachableVethAddresses) {
    std::vector<std::string> addresses;
    int setupStatus = -1;
    int unshareError = 0;
    // The namespace belongs to this thread and the ip commands it starts; it ends with the thread.
    std::thread([&] {
        if (unshare(CLONE_NEWNET) != 0) {
            unshareError = errno;
            return;
        }
        // Peers are created first: the walk goes ovl1, ovl0 (shared address space), lan1 (down), lan0.
        setupStatus = std::system(
            "ip link set lo up && ip link add ovl0 type veth peer name ovl1 && "
            "ip link add lan0 type veth peer name lan1 && ip addr add 169.254.10.20/16 dev ovl1 && "
            "ip addr add fd00::20/64 dev ovl1 && ip addr add 100.101.102.103/10 dev ovl0 && "
            "ip addr add 10.1.2.3/24 dev lan1 && ip addr add 192.168.1.20/24 dev lan0 && "
            "ip addr add 100.63.0.1/24 dev lan0 && ip link set ovl1 up && ip link set ovl0 up && ip link set lan0 up");
        addresses = NetworkInfo::reachableAddresses();
    }).join();

    if (unshareError != 0) {
        GTEST_SKIP() << "cannot create a network namespace (needs root): " << std::strerror(unshareError);
    }
    ASSERT_EQ(setupStatus, 0) << "setting up the namespace failed";
    EXPECT_EQ(addresses, (std::vector<std::string>{"192.168.1.20", "100.63.0.1", "100.101.102.103"}));
}

}  // namespace
}  // namespace vantrel
