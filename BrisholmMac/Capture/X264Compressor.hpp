#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Compressor.hpp"

namespace vantrel {

// How the libx264 sessions are set up. The defaults are the host's choice, made by measured
// quality per CPU-millisecond (see ENCODER.md beside this file); the other values exist
// so the benchmark can compare alternatives on the same code path.
struct X264Options {
    std::string preset = "ultrafast";
    // Any further x264 option by its command-line name ("cabac", "subme", ...), applied after the
    // preset and before the host's own low-latency settings, which always win.
    std::vector<std::pair<std::string, std::string>> overrides;
    // Slice threads per picture; 0 lets x264 choose from the processor count. One slice would cost
    // a little less CPU, but x264's row-level rate control then falls 15 to 20 % short of the
    // bitrate (RateControlTests).
    int threads = 0;
    // The rate-control buffer, in frames at the average rate: the largest burst one picture can
    // make, and so the size of a forced key frame before its quality is squeezed.
    double vbvFrames = 4.0;
    // The quantizer at which a still picture counts as sharp: refinement passes stop once x264
    // works at it and finds little left to code. Desktop text is crisp from here on; further
    // passes at lower quantizers cost as much again for about 3 dB the eye hardly sees.
    int sharpQuantizer = 24;
    // x264's DCT decimation (dropping blocks that hold only a few small coefficients) is used for
    // pictures of more than this many pixels. Up to 1920x1080 full-screen motion costs a sixth less
    // of x264's time without it, at the same quality; at 2560x1600, where each pixel gets fewer
    // bits, it keeps 0.4 dB for 5 % of the time (ENCODER.md).
    std::int64_t decimateAbovePixels = std::int64_t{1920} * 1080;
};

// The time the rate control credits each picture, so that a stream keeps its bitrate whether the
// screen changes sixty times a second or five: the real time since the picture before. A picture
// is credited at least one frame at framesPerSecond (callers that count frames rather than time get
// the per-frame budget), and time credited early is paid back by the next pictures, so jitter in
// the capture's pacing does not inflate the rate. After a still spell of more than a second the
// picture is credited one second: the unused budget does not pile up into a burst.
class RateClock {
public:
    static constexpr std::int64_t microsPerSecond = 1'000'000;

    explicit RateClock(std::int64_t framesPerSecond);

    // The microseconds credited to a picture taken at timestampMicros (host clock); without a
    // time stamp, to one that came one frame after the previous.
    [[nodiscard]] std::int64_t credit(std::optional<std::uint64_t> timestampMicros);

    [[nodiscard]] std::int64_t frameMicros() const { return frame_; }

private:
    std::int64_t frame_;
    std::optional<std::uint64_t> last_;
    std::int64_t owed_ = 0;  // credited ahead of real time; never positive
};

// The host's H.264 compressor: libx264 with no B-frames, no lookahead, no frame delay and slice
// threads, bitrate-capped rate control, IDR key frames, 4-byte length-prefixed NAL units, and the
// parameter sets kept out of the pictures. BGRA pictures are converted by libyuv straight into
// the encoder's input planes. Used on the queue that encodes ("vantrel.encode"), one call at a
// time.
class X264Compressor final : public Compressor {
public:
    explicit X264Compressor(X264Options options = {});

    [[nodiscard]] std::unique_ptr<CompressionSession> makeSession(const CompressionSettings& settings) override;

private:
    X264Options options_;
};

}  // namespace vantrel
