#include "App/NetworkInfo.hpp"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>

#include "Log/DiagnosticLog.hpp"

namespace vantrel::NetworkInfo {

namespace {

// The numbers of a dotted quad. Pieces that are not decimal numbers of 0 to 255 are dropped before
// counting, so only text that leaves exactly four such numbers counts as an address.
std::optional<std::array<unsigned, 4>> dottedQuad(std::string_view text) {
    std::array<unsigned, 4> numbers{};
    std::size_t count = 0;
    while (true) {
        const auto dot = text.find('.');
        const std::string_view piece = text.substr(0, dot);
        unsigned value = 0;
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (!piece.empty() && error == std::errc() && end == piece.data() + piece.size() && value <= 255) {
            if (count == numbers.size()) {
                return std::nullopt;
            }
            numbers[count++] = value;
        }
        if (dot == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
    }
    if (count != numbers.size()) {
        return std::nullopt;
    }
    return numbers;
}

struct FreeInterfaceAddresses {
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

std::vector<std::string> reachableAddresses(std::span<const InterfaceAddress> entries) {
    std::vector<std::string> ordinary;
    std::vector<std::string> sharedSpace;
    for (const auto& entry : entries) {
        if (!entry.up || entry.loopback || !entry.ipv4 || !entry.numericHost) {
            continue;
        }
        const auto numbers = dottedQuad(*entry.numericHost);
        if (!numbers) {
            continue;
        }
        const unsigned first = (*numbers)[0];
        const unsigned second = (*numbers)[1];
        if (first == 169 && second == 254) {
            continue;  // self-assigned: no phone reaches it by that address
        }
        if (first == 100 && second >= 64 && second <= 127) {
            sharedSpace.push_back(*entry.numericHost);
        } else {
            ordinary.push_back(*entry.numericHost);
        }
    }
    ordinary.insert(ordinary.end(), sharedSpace.begin(), sharedSpace.end());
    return ordinary;
}

std::vector<std::string> reachableAddresses() {
    ifaddrs* raw = nullptr;
    if (getifaddrs(&raw) != 0) {
        diagnosticLog().warn("Cannot list the network interfaces: {}", std::strerror(errno));
        return {};
    }
    const std::unique_ptr<ifaddrs, FreeInterfaceAddresses> list(raw);
    std::vector<InterfaceAddress> entries;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        InterfaceAddress facts;
        facts.up = (entry->ifa_flags & IFF_UP) != 0;
        facts.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        facts.ipv4 = entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET;
        if (facts.ipv4) {
            std::array<char, NI_MAXHOST> host{};
            const int status =
                getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host.data(), host.size(), nullptr, 0, NI_NUMERICHOST);
            if (status == 0) {
                facts.numericHost = host.data();
            } else {
                diagnosticLog().warn("Cannot turn an address of {} into text: {}", entry->ifa_name,
                                     gai_strerror(status));
            }
        }
        entries.push_back(std::move(facts));
    }
    return reachableAddresses(entries);
}

}  // namespace vantrel::NetworkInfo
