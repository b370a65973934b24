#include "AnnexB.hpp"

#include <array>
#include <cstdint>

namespace vantrel::probe {
namespace {

constexpr std::array<std::uint8_t, 4> startCode{0, 0, 0, 1};
constexpr std::size_t lengthPrefixSize = 4;

}  // namespace

std::optional<Bytes> annexBFromLengthPrefixed(ByteView payload) {
    Bytes output;
    // A start code is exactly as long as the prefix it replaces, so the size is known up front.
    output.reserve(payload.size());
    std::size_t offset = 0;
    while (offset < payload.size()) {
        if (payload.size() - offset < lengthPrefixSize) {
            return std::nullopt;
        }
        const std::uint32_t length = (std::uint32_t{payload[offset]} << 24) |
                                     (std::uint32_t{payload[offset + 1]} << 16) |
                                     (std::uint32_t{payload[offset + 2]} << 8) | std::uint32_t{payload[offset + 3]};
        offset += lengthPrefixSize;
        if (length == 0 || length > payload.size() - offset) {
            return std::nullopt;
        }
        output.insert(output.end(), startCode.begin(), startCode.end());
        output.insert(output.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                      payload.begin() + static_cast<std::ptrdiff_t>(offset + length));
        offset += length;
    }
    return output;
}

Bytes annexBFromParameterSets(const std::vector<Bytes>& parameterSets) {
    Bytes output;
    for (const auto& set : parameterSets) {
        if (set.empty()) {
            continue;
        }
        output.insert(output.end(), startCode.begin(), startCode.end());
        output.insert(output.end(), set.begin(), set.end());
    }
    return output;
}

}  // namespace vantrel::probe
