#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "vantrel/Bytes.hpp"

namespace vantrel::probe {

// Writes the received stream as an Annex-B .h264 file. The file starts with the parameter sets
// and the first key frame after them, so every player can open it from the first byte; each
// later configuration's parameter sets are written where they arrived.
//
// Lives on the probe's session queue; not thread-safe.
class StreamDump {
public:
    // No value (and the reason in error) when the file cannot be created.
    [[nodiscard]] static std::unique_ptr<StreamDump> open(const std::string& path, std::string& error);

    void writeParameterSets(ByteView annexB);
    void writePicture(ByteView annexB, bool isKeyframe);

    // False once a write has failed; the reason stays in lastError().
    [[nodiscard]] bool healthy() const { return lastError_.empty(); }
    [[nodiscard]] const std::string& lastError() const { return lastError_; }

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    explicit StreamDump(std::unique_ptr<std::FILE, FileCloser> file) : file_(std::move(file)) {}
    void put(ByteView bytes);

    std::unique_ptr<std::FILE, FileCloser> file_;
    Bytes pendingParameterSets_;
    bool started_ = false;
    std::string lastError_;
};

}  // namespace vantrel::probe
