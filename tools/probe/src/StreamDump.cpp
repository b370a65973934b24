#include "StreamDump.hpp"

#include <cerrno>
#include <cstring>

namespace vantrel::probe {

std::unique_ptr<StreamDump> StreamDump::open(const std::string& path, std::string& error) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<StreamDump>(new StreamDump(std::move(file)));
}

void StreamDump::writeParameterSets(ByteView annexB) {
    if (started_) {
        put(annexB);
    } else {
        // Held back until a key frame follows: a file that opens with pictures referring to
        // parameter sets it never had would not play.
        pendingParameterSets_.assign(annexB.begin(), annexB.end());
    }
}

void StreamDump::writePicture(ByteView annexB, bool isKeyframe) {
    if (!started_) {
        if (!isKeyframe || pendingParameterSets_.empty()) {
            return;
        }
        put(pendingParameterSets_);
        pendingParameterSets_.clear();
        started_ = true;
    }
    put(annexB);
}

void StreamDump::put(ByteView bytes) {
    if (!healthy() || bytes.empty()) {
        return;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size() || std::fflush(file_.get()) != 0) {
        lastError_ = std::strerror(errno);
    }
}

}  // namespace vantrel::probe
