#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vantrel/Bytes.hpp"

namespace vantrel::base64 {

// Standard alphabet (RFC 4648) with '=' padding and no line breaks: the form of AppEntry::icon.
// No value only for buffers too large for OpenSSL's int-sized interface.
[[nodiscard]] std::optional<std::string> encode(ByteView data);

// Strict reading of the same form: the length is a multiple of 4, every character is from the
// standard alphabet, and '=' appears only as one or two final characters. Anything else (line
// breaks, whitespace, the URL-safe alphabet, missing padding) gives no value. "" is an empty buffer.
[[nodiscard]] std::optional<Bytes> decode(std::string_view text);

}  // namespace vantrel::base64
