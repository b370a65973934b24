#include "vantrel/Frame.hpp"

namespace vantrel {

Bytes makeFrame(MessageType type, ByteView body) {
    const auto length = static_cast<std::uint32_t>(body.size());
    Bytes frame;
    frame.reserve(frameHeaderLength + body.size());
    frame.push_back(static_cast<std::uint8_t>(length >> 24));
    frame.push_back(static_cast<std::uint8_t>(length >> 16));
    frame.push_back(static_cast<std::uint8_t>(length >> 8));
    frame.push_back(static_cast<std::uint8_t>(length));
    frame.push_back(rawValue(type));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

std::optional<FrameHeader> readFrameHeader(const std::array<std::uint8_t, frameHeaderLength>& header,
                                           std::int64_t maxInboundLength) {
    const std::uint32_t length = (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
                                 (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
    if (static_cast<std::int64_t>(length) > maxInboundLength) {
        return std::nullopt;
    }
    const auto type = messageTypeFromByte(header[4]);
    if (!type) {
        return std::nullopt;
    }
    return FrameHeader{length, *type};
}

}  // namespace vantrel
