#pragma once

#include <QImage>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace vantrel::testing {

// What an independent scanner reads from image: zbarimg's text of the QR code in it, or none when
// it finds none. The image goes through a PNG file, as a screenshot would.
inline std::optional<std::string> scanQRCode(const QImage& image) {
    QTemporaryDir directory;
    const QString path = directory.filePath("code.png");
    if (!image.save(path, "PNG")) {
        return std::nullopt;
    }
    const std::string command =
        "zbarimg --quiet --raw -Sdisable -Sqrcode.enable '" + path.toStdString() + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    char buffer[512];
    while (const auto read = pipe ? std::fread(buffer, 1, sizeof buffer, pipe.get()) : 0) {
        output.append(buffer, read);
    }
    // Status 0 with the text and one newline, or 4 when no code was found.
    if (!pipe || pclose(pipe.release()) != 0 || output.empty()) {
        return std::nullopt;
    }
    output.pop_back();
    return output;
}

}  // namespace vantrel::testing
