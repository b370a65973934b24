#pragma once

#include <string>

namespace vantrel::testing {

// An address a phone could reach, for an end-to-end test's private network namespace: the pairing
// link carries only private or local addresses, and the namespace has nothing but loopback. A veth
// pair with 192.168.(100 + n).1/24 on one end, named after the test process; removed when it goes.
// Needs root in a network namespace of the test's own (scripts/test-session.sh).
class PrivateAddress {
public:
    PrivateAddress();
    ~PrivateAddress();
    PrivateAddress(const PrivateAddress&) = delete;
    PrivateAddress& operator=(const PrivateAddress&) = delete;

    [[nodiscard]] bool ok() const { return !interface_.empty(); }
    // The interface's name, unique per test process: good for naming a test's files too.
    [[nodiscard]] const std::string& interfaceName() const { return interface_; }

private:
    std::string interface_;
};

}  // namespace vantrel::testing
