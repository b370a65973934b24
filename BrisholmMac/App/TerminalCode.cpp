#include "App/TerminalCode.hpp"

#include <qrencode.h>

#include <memory>
#include <string>

namespace vantrel {

namespace {

struct QRcodeFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

constexpr int quietZone = 2;

}  // namespace

std::string terminalQRCode(std::string_view text) {
    const std::string value(text);
    const std::unique_ptr<QRcode, QRcodeFree> code(QRcode_encodeString(value.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1));
    if (!code) {
        return {};
    }
    const int size = code->width;
    const auto dark = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= size || y >= size) {
            return false;
        }
        return (code->data[y * size + x] & 1) != 0;
    };
    // Black on bright white, set explicitly: the terminal's own colours may be either way round,
    // and not every phone reads a code in inverse.
    std::string lines;
    for (int y = -quietZone; y < size + quietZone; y += 2) {
        lines += "\x1b[30;107m";
        for (int x = -quietZone; x < size + quietZone; ++x) {
            const bool top = dark(x, y);
            const bool bottom = dark(x, y + 1);
            if (top && bottom) {
                lines += "\u2588";
            } else if (top) {
                lines += "\u2580";
            } else if (bottom) {
                lines += "\u2584";
            } else {
                lines += " ";
            }
        }
        lines += "\x1b[0m\n";
    }
    return lines;
}

}  // namespace vantrel
