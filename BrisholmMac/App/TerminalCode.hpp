#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// The pairing link as a QR code drawn with text for a terminal (error correction M, as the
// tray's code): two module rows per text line in upper and lower half blocks, black on bright
// white with a quiet zone of two modules, so phones read it on dark and light terminals alike.
// Empty when the text cannot be encoded.
[[nodiscard]] std::string terminalQRCode(std::string_view text);

}  // namespace vantrel
