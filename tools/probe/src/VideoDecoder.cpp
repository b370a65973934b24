#include "VideoDecoder.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <cstring>

#include "AnnexB.hpp"

namespace vantrel::probe {

void VideoDecoder::Deleters::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void VideoDecoder::Deleters::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void VideoDecoder::Deleters::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

std::unique_ptr<VideoDecoder> VideoDecoder::create() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        return nullptr;
    }
    std::unique_ptr<AVCodecContext, Deleters> context(avcodec_alloc_context3(codec));
    if (!context) {
        return nullptr;
    }
    // A phone shows each picture as it arrives: no frame reordering delay, no frame threads
    // (each would hold a picture back); slice threads are free to help.
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = 0;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    return std::unique_ptr<VideoDecoder>(new VideoDecoder(std::move(context)));
}

VideoDecoder::VideoDecoder(std::unique_ptr<AVCodecContext, Deleters> context)
    : context_(std::move(context)), frame_(av_frame_alloc()), packet_(av_packet_alloc()) {}

VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::configure(const VideoConfig& config) {
    parameterSets_ = annexBFromParameterSets(config.parameterSets);
    configured_ = !parameterSets_.empty();
    // New parameter sets may describe another picture size: only a key frame after them decodes.
    sawKeyframe_ = false;
}

DecodeOutcome VideoDecoder::decode(ByteView annexB, bool isKeyframe, std::uint64_t timestampMicros) {
    if (!frame_ || !packet_) {
        return DecodeOutcome::failed;
    }
    if (!configured_ || (!sawKeyframe_ && !isKeyframe)) {
        return DecodeOutcome::skipped;
    }
    if (annexB.empty()) {
        return DecodeOutcome::failed;
    }
    sawKeyframe_ = true;

    const std::size_t prefix = isKeyframe ? parameterSets_.size() : 0;
    if (av_new_packet(packet_.get(), static_cast<int>(prefix + annexB.size())) < 0) {
        return DecodeOutcome::failed;
    }
    if (prefix > 0) {
        std::memcpy(packet_->data, parameterSets_.data(), prefix);
    }
    std::memcpy(packet_->data + prefix, annexB.data(), annexB.size());
    packet_->pts = static_cast<std::int64_t>(timestampMicros);
    if (isKeyframe) {
        packet_->flags |= AV_PKT_FLAG_KEY;
    }
    const int sent = avcodec_send_packet(context_.get(), packet_.get());
    av_packet_unref(packet_.get());

    std::uint64_t clean = 0;
    std::uint64_t damaged = 0;
    receivePictures(clean, damaged);
    if (sent < 0 || damaged > 0) {
        return DecodeOutcome::failed;
    }
    return clean > 0 ? DecodeOutcome::decoded : DecodeOutcome::pending;
}

std::uint64_t VideoDecoder::flush() {
    if (!frame_ || avcodec_send_packet(context_.get(), nullptr) < 0) {
        return 0;
    }
    std::uint64_t clean = 0;
    std::uint64_t damaged = 0;
    receivePictures(clean, damaged);
    return clean;
}

void VideoDecoder::receivePictures(std::uint64_t& clean, std::uint64_t& damaged) {
    while (avcodec_receive_frame(context_.get(), frame_.get()) == 0) {
        const bool corrupt = frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0;
        if (corrupt) {
            ++damaged;
        } else {
            ++clean;
            if (onPicture) {
                onPicture(Picture{*frame_, decodedCount_});
            }
            ++decodedCount_;
        }
        av_frame_unref(frame_.get());
    }
}

}  // namespace vantrel::probe
