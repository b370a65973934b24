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

// The real interface walk, in a network namespace of the test's own with veth pairs: the
// addresses and flags come from the kernel, in the kernel's order.
TEST(NetworkNamespaceTest, ListsTheReachableVethAddresses) {
    std::vector<std::string> addresses;
    std::string failure;
    int unshareError = 0;
    // Namespaces belong to threads: this one enters a fresh network namespace, and the ip commands
    // it starts inherit it. The namespace disappears with the thread, so nothing needs cleaning up.
    std::thread([&] {
        if (unshare(CLONE_NEWNET) != 0) {
            unshareError = errno;
            return;
        }
        // A veth pair is created peer first, so ovl1 is walked before ovl0, and ovl0 (shared
        // address space) before lan0.
        for (const char* command : {
                 "ip link set lo up",
                 "ip link add ovl0 type veth peer name ovl1",
                 "ip link add lan0 type veth peer name lan1",
                 "ip addr add 169.254.10.20/16 dev ovl1",
                 "ip addr add fd00::20/64 dev ovl1",
                 "ip addr add 100.101.102.103/10 dev ovl0",
                 "ip addr add 10.1.2.3/24 dev lan1",  // lan1 stays down
                 "ip addr add 192.168.1.20/24 dev lan0",
                 "ip addr add 100.63.0.1/24 dev lan0",
                 "ip link set ovl1 up",
                 "ip link set ovl0 up",
                 "ip link set lan0 up",
             }) {
            if (std::system(command) != 0) {
                failure = command;
                return;
            }
        }
        addresses = NetworkInfo::reachableAddresses();
    }).join();

    if (unshareError != 0) {
        GTEST_SKIP() << "cannot create a network namespace (needs root): " << std::strerror(unshareError);
    }
    ASSERT_EQ(failure, "") << "setting up the namespace failed";
    EXPECT_EQ(addresses, (std::vector<std::string>{"192.168.1.20", "100.63.0.1", "100.101.102.103"}));
}

}  // namespace
}  // namespace vantrel
