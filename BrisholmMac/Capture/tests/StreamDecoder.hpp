#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "PixelBuffer.hpp"
#include "vantrel/VideoMessages.hpp"

namespace vantrel::testing {

// The NAL units of a payload of 4-byte big-endian length-prefixed units; no value unless the
// lengths cover the payload exactly and no unit is empty.
[[nodiscard]] std::optional<std::vector<ByteView>> splitLengthPrefixed(ByteView payload);

// The H.264 NAL unit type (low five bits of the first byte).
[[nodiscard]] int nalType(ByteView unit);

// Decodes the encoder's output the way a phone does: a stream configuration's parameter sets set
// up the decoder (as an avcC record with 4-byte lengths), then each frame's length-prefixed
// payload is decoded and the picture returned as BGRA, converted by libswscale rather than libyuv
// so that a colour-order mistake on the encoding side shows. Test-only: libavcodec.
class StreamDecoder {
public:
    StreamDecoder();
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // Starts a fresh decoder for this configuration; false when it cannot be opened.
    bool configure(const VideoConfig& config);

    // The decoded picture, or null when the decoder rejects the payload or returns nothing.
    [[nodiscard]] std::shared_ptr<const PixelBuffer> decode(const VideoFrame& frame);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vantrel::testing
