#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace vantrel {

class PixelBuffer;

// One picture for the encoding queue, and what to make of it.
struct EncodeJob {
    enum class Kind {
        frame,       // a grabbed frame
        keyframe,    // the last frame again, for a key frame asked for while the screen stands still
        refinement,  // the last frame again, as a refinement pass
    };
    Kind kind = Kind::frame;
    std::shared_ptr<const PixelBuffer> picture;
    std::chrono::steady_clock::time_point at;  // becomes the frame's time stamp
};

// Hands pictures from the capture queue to the encoding queue, so that the next grab and
// conversion overlap the current compression on a second core, while the encoder never holds
// more than two pictures (and so the capturer's buffers stay few): one being encoded and one
// waiting for it.
//
// A grabbed frame offered while one waits takes its place: the encoder gets the freshest picture,
// the older one never reaches it. A key frame asked for while a frame waits is left to that frame
// (the encoder's request is already set). A refinement is offered only to an idle encoder: it is
// about a still picture, and anything newer makes it pointless.
//
// Pure bookkeeping, confined to the capture queue; the jobs run on the encoding queue in the
// order handed out, and each one's end is reported back with finished().
class EncodeHandoff {
public:
    // The job to hand to the encoding queue now, or none: it waits for the running one, or (a
    // refinement for a busy encoder, a key frame behind a waiting frame) is not needed.
    [[nodiscard]] std::optional<EncodeJob> offer(EncodeJob job);

    // The running job ended: the waiting one to hand over now, if any.
    [[nodiscard]] std::optional<EncodeJob> finished();

    // The stream ended: the waiting job is dropped. A running one still reports its end.
    void clear();

    // Whether the encoder has a job (running, and maybe one waiting).
    [[nodiscard]] bool busy() const { return running_; }
    [[nodiscard]] bool hasWaiting() const { return waiting_.has_value(); }
    // Grabbed frames replaced while waiting: they never reached the encoder.
    [[nodiscard]] std::uint64_t framesReplaced() const { return replaced_; }

private:
    bool running_ = false;
    std::optional<EncodeJob> waiting_;
    std::uint64_t replaced_ = 0;
};

}  // namespace vantrel
