#pragma once

#include <QImage>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace vantrel::testing {

// What an independent scanner reads from image: zbarimg's text of the one QR code in it, or none
// when it finds none. The image goes through a PNG file, as a screenshot would.
inline std::optional<std::string> scanQRCode(const QImage& image) {
    QTemporaryDir directory;
    const QString path = directory.filePath("code.png");
    if (!directory.isValid() || !image.save(path, "PNG")) {
        return std::nullopt;
    }
    const std::string command =
        "zbarimg --quiet --raw -Sdisable -Sqrcode.enable '" + path.toStdString() + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return std::nullopt;
    }
    std::string output;
    char buffer[512];
    while (const auto read = std::fread(buffer, 1, sizeof buffer, pipe.get())) {
        output.append(buffer, read);
    }
    if (const int status = pclose(pipe.release()); status != 0) {
        std::fprintf(stderr, "zbarimg found no code (status %d)\n", status);
        return std::nullopt;
    }
    // --raw ends the text with one newline.
    if (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

}  // namespace vantrel::testing
