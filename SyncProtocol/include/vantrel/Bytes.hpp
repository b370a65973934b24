#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vantrel {

// The byte buffer of the protocol: message bodies, frames, keys and encoded pictures.
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

}  // namespace vantrel
