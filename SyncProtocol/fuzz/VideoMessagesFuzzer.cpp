// Every input is read both as a stream configuration and as a frame. The readers must never read
// past the end (the address sanitizer watches), and what they accept must write back as the very
// bytes they consumed: a configuration as a prefix of the input, a frame as the input itself with
// the flags reduced to bit 0.
#include <algorithm>
#include <cstdlib>

#include "vantrel/VideoMessages.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    const ByteView body(data, size);

    if (const auto config = VideoConfig::decode(body)) {
        const Bytes encoded = config->encoded();
        if (encoded.size() > size || !std::equal(encoded.begin(), encoded.end(), data) ||
            VideoConfig::decode(encoded) != config) {
            std::abort();
        }
    }

    if (const auto frame = VideoFrame::decode(body)) {
        const Bytes encoded = frame->encoded();
        if (encoded.size() != size || encoded[0] != (data[0] & 1) ||
            !std::equal(encoded.begin() + 1, encoded.end(), data + 1)) {
            std::abort();
        }
    } else if (size >= 9) {
        std::abort();
    }
    return 0;
}
