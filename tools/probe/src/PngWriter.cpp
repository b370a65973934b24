#include "PngWriter.hpp"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#include <png.h>

#include <cstring>
#include <memory>
#include <vector>

namespace vantrel::probe {

struct PngWriter::State {
    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() { sws_freeContext(scaler); }

    SwsContext* scaler = nullptr;  // replaced in place by sws_getCachedContext when the size changes
    std::vector<std::uint8_t> rgb;
};

PngWriter::PngWriter() : state_(std::make_unique<State>()) {}

PngWriter::~PngWriter() = default;

std::string PngWriter::write(const AVFrame& picture, const std::string& path) {
    if (picture.width <= 0 || picture.height <= 0) {
        return "the picture has no size";
    }
    const auto width = static_cast<std::size_t>(picture.width);
    const auto height = static_cast<std::size_t>(picture.height);
    state_->scaler =
        sws_getCachedContext(state_->scaler, picture.width, picture.height, static_cast<AVPixelFormat>(picture.format),
                             picture.width, picture.height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (state_->scaler == nullptr) {
        return "no conversion from the decoder's pixel format to RGB";
    }
    state_->rgb.resize(width * height * 3);
    std::uint8_t* planes[4] = {state_->rgb.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {picture.width * 3, 0, 0, 0};
    sws_scale(state_->scaler, picture.data, picture.linesize, 0, picture.height, planes, strides);

    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, state_->rgb.data(), 0, nullptr) == 0) {
        std::string message = image.message;
        png_image_free(&image);
        return message;
    }
    return {};
}

}  // namespace vantrel::probe
