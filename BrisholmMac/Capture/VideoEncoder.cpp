#include "VideoEncoder.hpp"

#include <algorithm>
#include <cassert>
#include <utility>

#include "HostClock.hpp"
#include "PixelBuffer.hpp"

namespace vantrel {

namespace {

constexpr std::int64_t minimumBitrate = 1'000;

// A key frame at least every ten seconds, so a receiver that lost one recovers without asking.
constexpr std::int64_t keyframeIntervalSeconds = 10;

}  // namespace

VideoEncoder::VideoEncoder(std::unique_ptr<Compressor> compressor, std::int64_t framesPerSecond)
    : compressor_(std::move(compressor)), framesPerSecond_(framesPerSecond > 0 ? framesPerSecond : 1) {}

void VideoEncoder::requestKeyframe() {
    std::lock_guard guard(lock_);
    keyframeWanted_ = true;
}

bool VideoEncoder::keyframeRequested() const {
    std::lock_guard guard(lock_);
    return keyframeWanted_;
}

void VideoEncoder::setBitrate(std::int64_t bitsPerSecond) {
    std::lock_guard guard(lock_);
    bitrate_ = std::clamp(bitsPerSecond, minimumBitrate, std::max(minimumBitrate, maximumBitrate_));
}

void VideoEncoder::setMaximumBitrate(std::int64_t bitsPerSecond) {
    std::lock_guard guard(lock_);
    maximumBitrate_ = std::max(minimumBitrate, bitsPerSecond);
    bitrate_ = std::min(bitrate_, maximumBitrate_);
}

std::int64_t VideoEncoder::bitrate() const {
    std::lock_guard guard(lock_);
    return bitrate_;
}

void VideoEncoder::invalidateSession() {
    session_.reset();
    width_ = 0;
    height_ = 0;
}

void VideoEncoder::makeSession(std::int32_t width, std::int32_t height) {
    session_.reset();
    if (!compressor_) {
        return;
    }
    CompressionSettings settings;
    settings.width = width;
    settings.height = height;
    settings.framesPerSecond = framesPerSecond_;
    settings.bitrate = bitrate();
    settings.maxKeyframeInterval = framesPerSecond_ * keyframeIntervalSeconds;
    auto session = compressor_->makeSession(settings);
    if (!session) {
        return;
    }
    session_ = std::move(session);
    // The session starts at the bitrate it was made with; encode() changes it only when the
    // wanted one moves away from that.
    appliedBitrate_ = settings.bitrate;
    width_ = width;
    height_ = height;
    std::lock_guard guard(lock_);
    keyframeWanted_ = true;
}

void VideoEncoder::encode(const PixelBuffer& picture, std::uint64_t timestampMicros) {
    encodePicture(picture, timestampMicros, false);
}

bool VideoEncoder::encodeRefinement(const PixelBuffer& picture, std::uint64_t timestampMicros) {
    return encodePicture(picture, timestampMicros, true);
}

bool VideoEncoder::encodePicture(const PixelBuffer& picture, std::uint64_t timestampMicros, bool refinement) {
#ifndef NDEBUG
    const bool wasEncoding = encoding_.exchange(true);
    assert(!wasEncoding && "encode() called from two threads at once");
    struct Leave {
        std::atomic<bool>& flag;
        ~Leave() { flag = false; }
    } leave{encoding_};
#endif

    if (!session_ || picture.width() != width_ || picture.height() != height_) {
        makeSession(picture.width(), picture.height());
        if (!session_) {
            return false;
        }
    }

    bool forceKeyframe = false;
    std::int64_t wantedBitrate = 0;
    {
        std::lock_guard guard(lock_);
        forceKeyframe = std::exchange(keyframeWanted_, false);
        wantedBitrate = bitrate_;
    }
    if (wantedBitrate != appliedBitrate_) {
        session_->setBitrate(wantedBitrate);
        appliedBitrate_ = wantedBitrate;
    }

    // A refinement sharpens a picture the session has already sent; a new session or a key frame
    // sends it whole anyway.
    const PictureOptions options{forceKeyframe, timestampMicros, refinement && !forceKeyframe};
    auto compressed = session_->compressPicture(picture, options);
    if (!compressed) {
        // The compressor's state is unknown after a rejected picture: start over with a new
        // session, whose first picture is a key frame, on the next call.
        session_.reset();
        std::lock_guard guard(lock_);
        keyframeWanted_ = true;
        return false;
    }
    const auto encoded = std::chrono::steady_clock::now();
    const bool refinable = options.refinement && compressed->refinable;
    emit(std::move(*compressed), timestampMicros, encoded);
    return refinable;
}

void VideoEncoder::emit(CompressedFrame compressed, std::uint64_t timestampMicros,
                        std::chrono::steady_clock::time_point encoded) {
    if (compressed.isKeyframe && compressed.format) {
        // Every key frame, forced or periodic, is preceded by the configuration that decodes it,
        // so a receiver can join or recover at any key frame.
        if (onConfig) {
            onConfig(VideoConfig{VideoCodec::h264, compressed.format->width, compressed.format->height,
                                 std::move(compressed.format->parameterSets)});
        }
    }
    if (compressed.payload.empty()) {
        return;
    }
    if (onStamps) {
        onStamps({timestampMicros, hostClockMicros(compressed.converted.value_or(encoded)), hostClockMicros(encoded)});
    }
    if (onFrame) {
        onFrame(VideoFrame{compressed.isKeyframe, timestampMicros, std::move(compressed.payload)});
    }
}

}  // namespace vantrel
