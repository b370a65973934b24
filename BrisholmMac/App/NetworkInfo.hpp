#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

// The addresses under which a phone on the local network can reach the host: what the pairing
// link offers and the menu shows. Only IPv4, because the listener accepts IPv4 only.
namespace vantrel::NetworkInfo {

// One interface address as the system reports it, before any rule is applied.
struct InterfaceAddress {
    bool up = false;
    bool loopback = false;
    bool ipv4 = false;                       // it has an address, of the IPv4 family
    std::optional<std::string> numericHost;  // the address as numeric text; absent when it could not be converted
};

// The reachable addresses among entries, as dotted quads in the order given, except that addresses
// of the shared address space 100.64.0.0/10 (carrier-grade NAT and overlay networks) come after
// all others. Left out: interfaces that are down or loopback, anything but IPv4, text that is
// not four numbers of 0 to 255, and self-assigned 169.254.0.0/16 addresses. No de-duplication.
[[nodiscard]] std::vector<std::string> reachableAddresses(std::span<const InterfaceAddress> entries);

// The same for this machine's interfaces now; empty when they cannot be listed. Callable from any
// thread.
[[nodiscard]] std::vector<std::string> reachableAddresses();

}  // namespace vantrel::NetworkInfo
