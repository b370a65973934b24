#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>

#include "Compressor.hpp"
#include "vantrel/VideoMessages.hpp"

namespace vantrel {

class PixelBuffer;

// When the encoder took one picture through its stages, in host-clock microseconds
// (hostClockMicros); the picture is known by its time stamp.
struct EncoderStamps {
    std::uint64_t timestampMicros = 0;
    std::uint64_t convertedMicros = 0;  // in the compressor's colour planes (= encoded when it does not say)
    std::uint64_t encodedMicros = 0;    // compressed

    bool operator==(const EncoderStamps&) const = default;
};

// Turns BGRA pictures into a low-latency H.264 stream: a VideoConfig ahead of every key frame
// (the first one of each session, forced ones and the periodic one at least every
// framesPerSecond x 10 frames) and one VideoFrame per compressed picture.
//
// Threads: encode() and invalidateSession() are called from one serial queue at a time
// ("vantrel.encode", the screen streamer's, in both hosts); the session and
// its size live there without a lock. onConfig and onFrame run synchronously inside encode(), on
// that same thread, since the compressor hands each picture back at once; receivers that keep
// state elsewhere hop onto their own queues. requestKeyframe(), setBitrate() and bitrate() may be
// called from any thread (server callbacks, the controller): they touch only the two values kept
// under the lock.
class VideoEncoder {
public:
    static constexpr std::int64_t defaultFramesPerSecond = 60;
    static constexpr std::int64_t defaultBitrate = 8'000'000;

    // Without a compressor, the host's own (libx264).
    explicit VideoEncoder(std::unique_ptr<Compressor> compressor = Compressor::create(),
                          std::int64_t framesPerSecond = defaultFramesPerSecond);

    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;
    ~VideoEncoder() = default;

    // Set once while wiring, before the first encode().
    std::function<void(VideoConfig)> onConfig;
    std::function<void(VideoFrame)> onFrame;
    // Just before onFrame, where the picture's time went; optional.
    std::function<void(const EncoderStamps&)> onStamps;

    // The frame rate the compressor plans for; the screen streamer paces its capture by it.
    [[nodiscard]] std::int64_t framesPerSecond() const { return framesPerSecond_; }

    // Compresses one picture and reports it through the callbacks before returning; the
    // timestamp is passed through unchanged. A picture of a new size gets a new session whose
    // first picture is a key frame. Failures are silent: a session that cannot be made drops the
    // picture (the next one tries again); a rejected picture is lost and the next one starts a new
    // session with a key frame.
    void encode(const PixelBuffer& picture, std::uint64_t timestampMicros);

    // Encodes picture, the one encoded last and unchanged since, once more as a delta frame: the
    // rate control blurs fine detail while the screen moves, and each such pass spends the still
    // screen's bitrate on sharpening it. True when another pass would sharpen it further.
    // Otherwise as encode(); a pending key-frame request makes it an ordinary key frame.
    bool encodeRefinement(const PixelBuffer& picture, std::uint64_t timestampMicros);

    // Drops the session, as when capture stops; the next picture starts a new one with a key frame.
    void invalidateSession();

    // The next picture is to be a key frame; requests made before it coalesce into one.
    void requestKeyframe();
    // Whether the next picture will be a key frame (asked for, or the first of a session).
    [[nodiscard]] bool keyframeRequested() const;

    // The average bitrate wanted, in bits per second; applied between pictures, only once it has
    // changed. Values below 1,000 are raised to 1,000 (the compressor counts in kbit/s).
    void setBitrate(std::int64_t bitsPerSecond);
    [[nodiscard]] std::int64_t bitrate() const;

    // A ceiling for every bitrate from now on, the current one included: setBitrate() asks for
    // more in vain. For a stream pinned to one rate (measurements) or a metered link.
    void setMaximumBitrate(std::int64_t bitsPerSecond);

private:
    void makeSession(std::int32_t width, std::int32_t height);
    void emit(CompressedFrame compressed, std::uint64_t timestampMicros, std::chrono::steady_clock::time_point encoded);
    bool encodePicture(const PixelBuffer& picture, std::uint64_t timestampMicros, bool refinement);

    const std::unique_ptr<Compressor> compressor_;
    const std::int64_t framesPerSecond_;

    // Confined to the encoding queue.
    std::unique_ptr<CompressionSession> session_;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::int64_t appliedBitrate_ = 0;

    mutable std::mutex lock_;
    std::int64_t bitrate_ = defaultBitrate;                                   // guarded by lock_
    std::int64_t maximumBitrate_ = std::numeric_limits<std::int64_t>::max();  // guarded by lock_
    bool keyframeWanted_ = true;                                              // guarded by lock_

    // Backs the debug check that encode() never runs on two threads at once, which the session
    // cannot survive.
    std::atomic<bool> encoding_{false};
};

}  // namespace vantrel
