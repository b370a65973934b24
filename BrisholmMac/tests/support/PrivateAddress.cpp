#include "PrivateAddress.hpp"

#include <unistd.h>

#include <cstdlib>

namespace vantrel::testing {

PrivateAddress::PrivateAddress() {
    const std::string name = "vt" + std::to_string(::getpid() % 100000);
    const std::string address = "192.168." + std::to_string(100 + ::getpid() % 100) + ".1/24";
    const std::string command = "ip link add " + name + " type veth peer name " + name + "p && ip addr add " + address +
                                " dev " + name + " && ip link set " + name + " up && ip link set " + name + "p up";
    if (std::system(command.c_str()) == 0) {
        interface_ = name;
    } else {
        (void)std::system(("ip link del " + name + " 2>/dev/null").c_str());
    }
}

PrivateAddress::~PrivateAddress() {
    if (!interface_.empty()) {
        (void)std::system(("ip link del " + interface_ + " 2>/dev/null").c_str());
    }
}

}  // namespace vantrel::testing
