#include "vantrel/VideoMessages.hpp"

#include <algorithm>
#include <limits>

#include "ByteReader.hpp"

namespace vantrel {
namespace {

constexpr std::size_t maxParameterSets = std::numeric_limits<std::uint8_t>::max();
constexpr std::size_t maxParameterSetLength = std::numeric_limits<std::uint16_t>::max();
constexpr std::size_t frameHeaderSize = 9;  // flags byte and 8-byte timestamp

void appendU16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendU64(Bytes& out, std::uint64_t value) {
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::uint16_t clampDimension(std::int64_t value) {
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::uint16_t>::max()));
}

}  // namespace

std::optional<VideoCodec> videoCodecFromByte(std::uint8_t byte) {
    if (byte == rawValue(VideoCodec::h264)) {
        return VideoCodec::h264;
    }
    return std::nullopt;
}

// The layout has one count byte and 2-byte lengths, so a configuration with more than 255 sets or
// with a set longer than 65,535 bytes cannot be written as it is. Such a set is left out rather
// than cut short (a truncated parameter set would feed the phone's decoder corrupt data), and at
// most the first 255 sets that fit are written; the count byte names exactly the sets written,
// so every body this produces reads back. The encoder never makes such a configuration.
Bytes VideoConfig::encoded() const {
    std::vector<const Bytes*> written;
    std::size_t size = 6;
    for (const Bytes& set : parameterSets) {
        if (written.size() == maxParameterSets) {
            break;
        }
        if (set.size() <= maxParameterSetLength) {
            written.push_back(&set);
            size += 2 + set.size();
        }
    }

    Bytes out;
    out.reserve(size);
    out.push_back(rawValue(codec));
    appendU16(out, clampDimension(width));
    appendU16(out, clampDimension(height));
    out.push_back(static_cast<std::uint8_t>(written.size()));
    for (const Bytes* set : written) {
        appendU16(out, static_cast<std::uint16_t>(set->size()));
        out.insert(out.end(), set->begin(), set->end());
    }
    return out;
}

std::optional<VideoConfig> VideoConfig::decode(ByteView body) {
    ByteReader reader(body);
    const auto codecByte = reader.u8();
    if (!codecByte) {
        return std::nullopt;
    }
    const auto codec = videoCodecFromByte(*codecByte);
    const auto width = reader.u16();
    const auto height = reader.u16();
    const auto count = reader.u8();
    if (!codec || !width || !height || !count) {
        return std::nullopt;
    }
    VideoConfig config{*codec, *width, *height, {}};
    config.parameterSets.reserve(*count);
    for (std::uint8_t i = 0; i < *count; ++i) {
        const auto length = reader.u16();
        if (!length) {
            return std::nullopt;
        }
        auto set = reader.bytes(*length);
        if (!set) {
            return std::nullopt;
        }
        config.parameterSets.push_back(std::move(*set));
    }
    return config;
}

Bytes VideoFrame::encoded() const {
    Bytes out;
    out.reserve(frameHeaderSize + payload.size());
    out.push_back(isKeyframe ? 1 : 0);
    appendU64(out, timestampMicros);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::optional<VideoFrame> VideoFrame::decode(ByteView body) {
    ByteReader reader(body);
    const auto flags = reader.u8();
    const auto timestamp = reader.u64();
    if (!flags || !timestamp) {
        return std::nullopt;
    }
    return VideoFrame{(*flags & 1) != 0, *timestamp, reader.rest()};
}

}  // namespace vantrel
