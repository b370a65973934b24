// Arbitrary text through the pairing-link parser: it must not crash, anything it accepts must
// carry a full-length key, and the link rebuilt from an accepted value must parse back to the
// same value (so a host never prints a link the phone reads differently).
#include <cstdlib>
#include <string_view>

#include "vantrel/PairingInfo.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using vantrel::PairingInfo;
    const std::string_view link(reinterpret_cast<const char*>(data), size);
    const auto parsed = PairingInfo::fromURL(link);
    if (!parsed) {
        return 0;
    }
    if (parsed->key.size() != PairingInfo::keyLength) {
        std::abort();
    }
    for (const auto& host : parsed->hosts) {
        if (host.empty() || host.find(',') != std::string::npos) {
            std::abort();
        }
    }
    const auto again = PairingInfo::fromURL(parsed->url());
    if (!again || *again != *parsed) {
        std::abort();
    }
    return 0;
}
