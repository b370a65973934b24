#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "vantrel/Bytes.hpp"
#include "vantrel/MessageType.hpp"

namespace vantrel {

// Every message travels as one frame: a 4-byte big-endian body length (the header itself not
// counted), the type byte, then exactly that many body bytes. No magic, checksum or padding.
inline constexpr std::size_t frameHeaderLength = 5;

// The host accepts inbound bodies of up to 64 KiB; a body of exactly this length is accepted.
inline constexpr std::int64_t hostMaxInboundLength = 65536;

struct FrameHeader {
    std::uint32_t length;
    MessageType type;
};

// Builds header and body as one buffer, reserved once, so a frame costs one copy of the body.
// Bodies longer than 4,294,967,295 bytes cannot be framed; callers never produce them.
[[nodiscard]] Bytes makeFrame(MessageType type, ByteView body);

// Applies the receive rules in their order: the length against maxInboundLength (equal is
// accepted), then the type byte. No value means the stream is unusable and must end: the
// protocol has no markers to resynchronise on.
[[nodiscard]] std::optional<FrameHeader> readFrameHeader(const std::array<std::uint8_t, frameHeaderLength>& header,
                                                         std::int64_t maxInboundLength);

}  // namespace vantrel
