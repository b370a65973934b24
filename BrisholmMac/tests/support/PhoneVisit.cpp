#include "PhoneVisit.hpp"

#include <png.h>

#include <chrono>
#include <cstdlib>

#include "ChildProcess.hpp"

namespace vantrel::testing {

std::vector<nlohmann::json> PhoneVisit::ofKind(const std::string& kind) const {
    std::vector<nlohmann::json> found;
    for (const auto& message : messages) {
        if (message.value("kind", "") == kind) {
            found.push_back(message);
        }
    }
    return found;
}

PhoneVisit visitHost(const std::string& probe, const std::string& link, std::vector<std::string> arguments) {
    arguments.push_back(link);
    ChildProcess client(probe, arguments);
    PhoneVisit visit;
    visit.status = client.waitForExit(std::chrono::seconds(60)).value_or(-1);
    for (const auto& line : client.lines()) {
        auto message = nlohmann::json::parse(line, nullptr, false);
        if (!message.is_discarded() && !message.contains("statistics")) {
            visit.messages.push_back(std::move(message));
        }
    }
    return visit;
}

bool SavedPicture::near(std::uint32_t x, std::uint32_t y, std::uint32_t colour) const {
    if (x >= width || y >= height) {
        return false;
    }
    const auto* pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
    const auto close = [](int value, std::uint32_t expected) { return std::abs(value - int(expected)) < 12; };
    return close(pixel[0], colour >> 16U & 0xffU) && close(pixel[1], colour >> 8U & 0xffU) &&
           close(pixel[2], colour & 0xffU);
}

std::vector<SavedPicture> savedPictures(const std::filesystem::path& directory) {
    std::vector<SavedPicture> pictures;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().extension() != ".png") {
            continue;
        }
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_file(&image, entry.path().c_str()) == 0) {
            continue;
        }
        image.format = PNG_FORMAT_RGB;
        SavedPicture picture{image.width, image.height, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
        if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0) {
            pictures.push_back(std::move(picture));
        } else {
            png_image_free(&image);
        }
    }
    return pictures;
}

}  // namespace vantrel::testing
