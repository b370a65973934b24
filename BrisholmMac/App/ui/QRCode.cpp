#include "QRCode.hpp"

#include <qrencode.h>

#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <memory>

#include "Log/DiagnosticLog.hpp"

namespace vantrel::QRCode {

namespace {

struct QRcodeDeleter {
    void operator()(QRcode* code) const { QRcode_free(code); }
};
using QRcodeHandle = std::unique_ptr<QRcode, QRcodeDeleter>;

}  // namespace

int moduleScale(int modules, double size) {
    if (modules <= 0 || !(size > 0)) {
        return 1;
    }
    const double scale = std::floor(size / modules);
    return scale <= 1 ? 1 : static_cast<int>(scale);
}

std::optional<QImage> image(std::string_view text, double size) {
    // Version 0 lets the library pick the smallest symbol; the bytes go in as they are (8-bit
    // mode), so the phone reads back exactly the link.
    QRcodeHandle code(QRcode_encodeData(static_cast<int>(text.size()),
                                        reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_M));
    if (!code) {
        diagnosticLog().warn("no QR code for a text of {} bytes (errno {})", text.size(), errno);
        return std::nullopt;
    }
    const int modules = code->width;
    const int scale = moduleScale(modules, size);
    QImage result(modules * scale, modules * scale, QImage::Format_Grayscale8);
    result.fill(Qt::white);
    for (int row = 0; row < modules; ++row) {
        for (int column = 0; column < modules; ++column) {
            // Bit 0 of each module byte is its colour; the other bits describe its role.
            if ((code->data[row * modules + column] & 1U) == 0) {
                continue;
            }
            for (int y = row * scale; y < (row + 1) * scale; ++y) {
                auto* line = result.scanLine(y);
                std::fill(line + column * scale, line + (column + 1) * scale, std::uint8_t{0});
            }
        }
    }
    return result;
}

std::optional<QImage> framed(std::string_view text, int side, int padding) {
    auto code = image(text, side);
    if (!code) {
        return std::nullopt;
    }
    // Nearest neighbour keeps every module a solid black or white block; smoothing would blur the
    // module edges into grey that scanners misread.
    const QImage stretched = code->scaled(side, side, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QImage result(side + 2 * padding, side + 2 * padding, QImage::Format_Grayscale8);
    result.fill(Qt::white);
    QPainter painter(&result);
    painter.drawImage(QPoint(padding, padding), stretched);
    painter.end();
    return result;
}

}  // namespace vantrel::QRCode
