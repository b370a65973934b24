#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel/Bytes.hpp"

namespace vantrel {

// Everything a phone needs to find and authenticate to one host: its display name, the port of
// its listener, the addresses under which it may be reached (most preferred first) and the
// 32-byte pairing key. The host turns it into the pairing link shown as a QR code and as text;
// the phone turns the link back into this value.
//
// A plain value: no thread affinity. Holds the pairing key, so never log or print one as a
// whole; the link is printed only where the user asked for it.
struct PairingInfo {
    std::string name;
    std::uint16_t port = 0;
    std::vector<std::string> hosts;
    Bytes key;

    static constexpr std::string_view scheme = "vantrel";
    static constexpr std::size_t keyLength = 32;
    static constexpr std::uint16_t defaultPort = 47823;
    static constexpr std::string_view bonjourType = "_vantrel._tcp";

    // A fresh key of keyLength bytes from the operating system's secure random source, and from
    // nothing else. Terminates the process if that source is unusable rather than hand out a
    // guessable key.
    [[nodiscard]] static Bytes generateKey();

    // The pairing link: vantrel://pair?v=1&name=...&port=...&hosts=a,b&key=<URL-safe Base64>.
    [[nodiscard]] std::string url() const;

    // Parses a pairing link; no value for anything that is not a complete, valid one. A missing
    // port or key is never replaced by a default.
    [[nodiscard]] static std::optional<PairingInfo> fromURL(std::string_view link);

    bool operator==(const PairingInfo&) const = default;
};

}  // namespace vantrel
