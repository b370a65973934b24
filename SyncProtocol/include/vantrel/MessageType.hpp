#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vantrel {

// The one-byte kind of every message on the wire. The raw values are fixed by the protocol that
// phone clients already speak: 1 to 13 in this order.
enum class MessageType : std::uint8_t {
    hello = 1,        // phone -> host, JSON Hello
    welcome,          // host -> phone, JSON Welcome
    videoConfig,      // host -> phone, binary VideoConfig
    videoFrame,       // host -> phone, binary VideoFrame
    input,            // phone -> host, JSON InputEvent
    requestKeyframe,  // phone -> host, body ignored
    selectDisplay,    // phone -> host, JSON SelectDisplay
    ping,             // phone -> host, opaque bytes
    pong,             // host -> phone, the first 64 bytes of the ping
    pointer,          // host -> phone, JSON PointerPosition
    frameAck,         // phone -> host, body ignored
    apps,             // host -> phone, JSON AppList
    openApp,          // phone -> host, JSON OpenApp
};

[[nodiscard]] constexpr std::uint8_t rawValue(MessageType type) {
    return static_cast<std::uint8_t>(type);
}

// The kind for a received type byte, or no value for 0 and for 14 to 255.
[[nodiscard]] constexpr std::optional<MessageType> messageTypeFromByte(std::uint8_t byte) {
    if (byte < rawValue(MessageType::hello) || byte > rawValue(MessageType::openApp)) {
        return std::nullopt;
    }
    return static_cast<MessageType>(byte);
}

// The case name, for logs and the probe's output.
[[nodiscard]] std::string_view name(MessageType type);

namespace SyncProtocolVersion {
// The phone puts it into Hello.version, the host into Welcome.version.
inline constexpr std::int64_t current = 1;
}  // namespace SyncProtocolVersion

}  // namespace vantrel
