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
    // Slice threads per picture; 0 lets x264 choose from the processor count.
    int threads = 0;
    // The rate-control buffer, in frames at the average rate: the largest burst one picture can
    // make, and so the size of a forced key frame before its quality is squeezed.
    double vbvFrames = 4.0;
    // The quantizer of a refinement (a still picture sent once more): low enough that desktop
    // text comes out sharp.
    int refinementQuantizer = 18;
};

// How much time the rate control credits a picture taken at timestampMicros when the one before
// was taken at previous: the real time between them, at least one frame at framesPerSecond (pictures
// never legitimately come faster, and callers that count frames instead of time still get the
// full per-frame budget) and at most one second (after a long still spell the budget does not
// pile up into a burst).
[[nodiscard]] std::int64_t rateClockStep(std::optional<std::uint64_t> previous, std::uint64_t timestampMicros,
                                         std::int64_t framesPerSecond);

// The host's H.264 compressor: libx264 with no B-frames, no lookahead, no frame delay and slice
// threads, bitrate-capped rate control, IDR key frames, 4-byte length-prefixed NAL units, and the
// parameter sets kept out of the pictures. BGRA pictures are converted by libyuv straight into
// the encoder's input planes.
class X264Compressor final : public Compressor {
public:
    explicit X264Compressor(X264Options options = {});

    [[nodiscard]] std::unique_ptr<CompressionSession> makeSession(const CompressionSettings& settings) override;

private:
    X264Options options_;
};

}  // namespace vantrel
