#pragma once

#include <QImage>

#include <optional>
#include <string_view>

// The pairing link as a QR code, the way the panel shows it. Plain functions of their arguments:
// callable from any thread, no display needed.
namespace vantrel::QRCode {

// Pixels per module for a code of `modules` modules drawn at most `size` pixels wide: the largest
// whole number that fits, and never less than one, so a code wider than size keeps one pixel per
// module instead of losing modules.
[[nodiscard]] int moduleScale(int modules, double size);

// The code of text (its UTF-8 bytes, error correction M) with black modules on white, no quiet
// zone, each module moduleScale(modules, size) pixels square. None when text does not fit in a
// QR code.
[[nodiscard]] std::optional<QImage> image(std::string_view text, double size);

// The code as the panel shows it: image(text, side) stretched without smoothing to side x side
// pixels and centred on white with `padding` pixels on every side, the quiet zone a scanner needs.
[[nodiscard]] std::optional<QImage> framed(std::string_view text, int side = 240, int padding = 8);

}  // namespace vantrel::QRCode
