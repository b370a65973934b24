#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "vantrel/Bytes.hpp"
#include "vantrel/VideoMessages.hpp"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace vantrel::probe {

// What became of one received picture.
enum class DecodeOutcome {
    decoded,  // the decoder produced a clean picture
    failed,   // corrupt payload, or the decoder rejected it or flagged its picture as damaged
    skipped,  // nothing to decode yet: no configuration and key frame seen so far
    pending,  // accepted; the picture will come out later (only with decoder delay)
};

// A decoded picture handed to onPicture: borrowed for the duration of the call.
struct Picture {
    const AVFrame& frame;
    std::uint64_t index;  // counts decoded pictures from 0
};

// libavcodec's H.264 decoder fed the way a phone feeds its hardware decoder: the parameter sets
// of the latest stream configuration go in ahead of each key frame, pictures go in one by one,
// and nothing is decoded before the first key frame after a configuration.
//
// Lives on the probe's session queue; not thread-safe.
class VideoDecoder {
public:
    // No value when this libavcodec has no H.264 decoder.
    [[nodiscard]] static std::unique_ptr<VideoDecoder> create();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    std::function<void(const Picture&)> onPicture;

    void configure(const VideoConfig& config);
    // annexB: the picture already converted (see AnnexB.hpp).
    [[nodiscard]] DecodeOutcome decode(ByteView annexB, bool isKeyframe, std::uint64_t timestampMicros);
    // Drains pictures still inside the decoder; returns how many came out clean.
    std::uint64_t flush();

private:
    struct Deleters {
        void operator()(AVCodecContext* context) const;
        void operator()(AVFrame* frame) const;
        void operator()(AVPacket* packet) const;
    };

    explicit VideoDecoder(std::unique_ptr<AVCodecContext, Deleters> context);
    // Pulls every ready picture; counts clean and damaged ones.
    void receivePictures(std::uint64_t& clean, std::uint64_t& damaged);

    std::unique_ptr<AVCodecContext, Deleters> context_;
    std::unique_ptr<AVFrame, Deleters> frame_;
    std::unique_ptr<AVPacket, Deleters> packet_;
    Bytes parameterSets_;  // Annex-B, from the latest configuration
    bool configured_ = false;
    bool sawKeyframe_ = false;
    std::uint64_t decodedCount_ = 0;
};

}  // namespace vantrel::probe
