#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "vantrel/Bytes.hpp"

namespace vantrel {

enum class VideoCodec : std::uint8_t { h264 = 1 };

[[nodiscard]] constexpr std::uint8_t rawValue(VideoCodec codec) {
    return static_cast<std::uint8_t>(codec);
}
[[nodiscard]] std::optional<VideoCodec> videoCodecFromByte(std::uint8_t byte);

// Body of `videoConfig`: sent ahead of every key frame. parameterSets are raw NAL units without
// start code or length prefix (SPS, then PPS).
struct VideoConfig {
    VideoCodec codec = VideoCodec::h264;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::vector<Bytes> parameterSets;

    // codec (1 byte), width and height clamped to 0...65535 (2 bytes each, big-endian), the set
    // count (1 byte), then each set as a 2-byte length and its bytes.
    [[nodiscard]] Bytes encoded() const;
    // No value for any shortfall or a codec byte other than 1; bytes after the last set are ignored.
    [[nodiscard]] static std::optional<VideoConfig> decode(ByteView body);

    bool operator==(const VideoConfig&) const = default;
};

// Body of `videoFrame`: one encoded picture. payload is the encoder's NAL units, each preceded by
// its 4-byte big-endian length.
struct VideoFrame {
    bool isKeyframe = false;
    std::uint64_t timestampMicros = 0;
    Bytes payload;

    // flags (bit 0 = key frame), the timestamp as 8 bytes big-endian, then the payload.
    // Reserves once and copies the payload once: it runs for every picture sent.
    [[nodiscard]] Bytes encoded() const;
    // No value for fewer than 9 bytes; only bit 0 of the flags is read.
    [[nodiscard]] static std::optional<VideoFrame> decode(ByteView body);
};

}  // namespace vantrel
