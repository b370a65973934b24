#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "vantrel/Bytes.hpp"

namespace vantrel {

class PixelBuffer;

// What a compression session is made for. The encoder passes the size of the frames it is fed,
// its frame rate and the bitrate wanted at the moment the session is made.
struct CompressionSettings {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t framesPerSecond = 60;
    // Average bits per second.
    std::int64_t bitrate = 8'000'000;
    // A key frame at least every this many frames.
    std::int64_t maxKeyframeInterval = 600;
};

// The stream format a key frame starts: the picture size and the H.264 parameter sets (sequence,
// then picture parameter set), each a raw NAL unit without start code or length prefix.
struct StreamFormat {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<Bytes> parameterSets;
};

// One compressed picture. payload holds the NAL units of the picture, each preceded by its length
// as a 4-byte big-endian integer; the parameter sets are never in it. An empty payload means the
// compressor produced nothing for this picture. format is set on key frames when the compressor
// could describe the stream; the phone needs it before it can decode the key frame.
struct CompressedFrame {
    bool isKeyframe = false;
    Bytes payload;
    std::optional<StreamFormat> format;
    // Set on a refinement when the picture is still coarser than the compressor's idea of sharp,
    // so another refinement would improve it.
    bool refinable = false;
    // When the picture was in the compressor's own colour planes, for a compressor that converts
    // before it compresses: where a frame's time goes.
    std::optional<std::chrono::steady_clock::time_point> converted;
};

// How one picture is to be compressed.
struct PictureOptions {
    // An IDR picture.
    bool forceKeyframe = false;
    // Host-clock microseconds of the picture; none for pictures that come at the session's
    // frame rate.
    std::optional<std::uint64_t> timestampMicros;
    // The same picture as the one before, sent again so that the detail the rate control left
    // blurred while the screen moved arrives once it stands still.
    bool refinement = false;
};

// One open H.264 compressor for one picture size. Output is synchronous: compress() returns the
// picture it was given, already compressed (no reordering, no lookahead, no frame delay). Used
// from one thread at a time.
class CompressionSession {
public:
    virtual ~CompressionSession() = default;

    // Changes the average bitrate from the next picture on.
    virtual void setBitrate(std::int64_t bitsPerSecond) = 0;

    // Compresses one picture of the session's size; forceKeyframe makes it an IDR picture. No
    // value when the compressor rejects the picture: the session is then not to be used again.
    [[nodiscard]] virtual std::optional<CompressedFrame> compress(const PixelBuffer& picture, bool forceKeyframe) = 0;

    // compress() with the picture's time and purpose. A compressor that budgets by time spends
    // the bitrate over the real time between pictures, so a screen that changes five times a
    // second gets the same bitrate as one that changes sixty times. Without that support the
    // picture is compressed as compress() would.
    [[nodiscard]] virtual std::optional<CompressedFrame> compressPicture(const PixelBuffer& picture,
                                                                         const PictureOptions& options) {
        return compress(picture, options.forceKeyframe);
    }
};

// Makes compression sessions. The host's one implementation runs libx264 on the CPU; a hardware
// encoder could sit behind the same interface. Lives with its video encoder: used on the queue
// that encodes ("vantrel.encode").
class Compressor {
public:
    virtual ~Compressor() = default;

    // The host's compressor (libx264 with its low-latency settings).
    [[nodiscard]] static std::unique_ptr<Compressor> create();

    // Null when no session can be made for these settings (an odd or out-of-range size, say).
    [[nodiscard]] virtual std::unique_ptr<CompressionSession> makeSession(const CompressionSettings& settings) = 0;
};

}  // namespace vantrel
