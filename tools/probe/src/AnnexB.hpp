#pragma once

#include <optional>
#include <vector>

#include "vantrel/Bytes.hpp"

namespace vantrel::probe {

// The host sends H.264 the way its encoder writes it: parameter sets as bare NAL units in the
// stream configuration, pictures as NAL units each preceded by a 4-byte big-endian length.
// Decoders and .h264 files want Annex-B instead: every NAL unit after a 00 00 00 01 start code.

// A length-prefixed picture as Annex-B. No value when a length runs past the end or a NAL unit
// is empty: such a payload is corrupt, and guessing where the next unit starts would only feed
// the decoder garbage.
[[nodiscard]] std::optional<Bytes> annexBFromLengthPrefixed(ByteView payload);

// The parameter sets of a stream configuration, each behind a start code.
[[nodiscard]] Bytes annexBFromParameterSets(const std::vector<Bytes>& parameterSets);

}  // namespace vantrel::probe
