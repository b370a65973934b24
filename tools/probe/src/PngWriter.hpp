#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVFrame;

namespace vantrel::probe {

// Writes decoded pictures as PNG files: libswscale turns the decoder's YUV into RGB, libpng
// writes the file. Keeps its conversion context between pictures of the same size.
//
// Lives on the probe's session queue; not thread-safe.
class PngWriter {
public:
    PngWriter();
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // An error text on failure, empty on success.
    [[nodiscard]] std::string write(const AVFrame& picture, const std::string& path);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vantrel::probe
