#include "StreamDecoder.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace vantrel::testing {

namespace {

struct ContextFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerFreer {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

// ISO/IEC 14496-15 decoder configuration record: how a length-prefixed stream names its
// parameter sets and its length size (4 bytes).
Bytes avcDecoderConfiguration(const VideoConfig& config) {
    std::vector<Bytes> sequenceSets;
    std::vector<Bytes> pictureSets;
    for (const auto& set : config.parameterSets) {
        if (!set.empty() && nalType(set) == 7) {
            sequenceSets.push_back(set);
        } else if (!set.empty() && nalType(set) == 8) {
            pictureSets.push_back(set);
        }
    }
    if (sequenceSets.empty() || sequenceSets.front().size() < 4) {
        return {};
    }
    const auto& sps = sequenceSets.front();
    Bytes record{1, sps[1], sps[2], sps[3], 0xFF, static_cast<std::uint8_t>(0xE0 | sequenceSets.size())};
    auto append = [&](const Bytes& set) {
        record.push_back(static_cast<std::uint8_t>(set.size() >> 8));
        record.push_back(static_cast<std::uint8_t>(set.size()));
        record.insert(record.end(), set.begin(), set.end());
    };
    for (const auto& set : sequenceSets) {
        append(set);
    }
    record.push_back(static_cast<std::uint8_t>(pictureSets.size()));
    for (const auto& set : pictureSets) {
        append(set);
    }
    return record;
}

}  // namespace

std::optional<std::vector<ByteView>> splitLengthPrefixed(ByteView payload) {
    std::vector<ByteView> units;
    std::size_t offset = 0;
    while (offset < payload.size()) {
        if (payload.size() - offset < 4) {
            return std::nullopt;
        }
        const std::size_t length = (std::size_t{payload[offset]} << 24) | (std::size_t{payload[offset + 1]} << 16) |
                                   (std::size_t{payload[offset + 2]} << 8) | std::size_t{payload[offset + 3]};
        offset += 4;
        if (length == 0 || length > payload.size() - offset) {
            return std::nullopt;
        }
        units.push_back(payload.subspan(offset, length));
        offset += length;
    }
    return units;
}

int nalType(ByteView unit) {
    return unit.empty() ? -1 : unit[0] & 0x1F;
}

struct StreamDecoder::State {
    std::unique_ptr<AVCodecContext, ContextFreer> context;
    std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
    std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
};

StreamDecoder::StreamDecoder() : state_(std::make_unique<State>()) {}
StreamDecoder::~StreamDecoder() = default;

bool StreamDecoder::configure(const VideoConfig& config) {
    state_->context.reset();
    const auto record = avcDecoderConfiguration(config);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (record.empty() || codec == nullptr) {
        return false;
    }
    std::unique_ptr<AVCodecContext, ContextFreer> context(avcodec_alloc_context3(codec));
    if (!context) {
        return false;
    }
    context->extradata = static_cast<std::uint8_t*>(av_mallocz(record.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (context->extradata == nullptr) {
        return false;
    }
    std::memcpy(context->extradata, record.data(), record.size());
    context->extradata_size = static_cast<int>(record.size());
    // One picture in, the same picture out, as on the phone.
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        return false;
    }
    state_->context = std::move(context);
    return true;
}

std::shared_ptr<const PixelBuffer> StreamDecoder::decode(const VideoFrame& frame) {
    if (!state_->context || frame.payload.empty()) {
        return nullptr;
    }
    auto* packet = state_->packet.get();
    if (av_new_packet(packet, static_cast<int>(frame.payload.size())) < 0) {
        return nullptr;
    }
    std::memcpy(packet->data, frame.payload.data(), frame.payload.size());
    if (frame.isKeyframe) {
        packet->flags |= AV_PKT_FLAG_KEY;
    }
    const int sent = avcodec_send_packet(state_->context.get(), packet);
    av_packet_unref(packet);
    if (sent < 0) {
        return nullptr;
    }
    auto* decoded = state_->frame.get();
    if (avcodec_receive_frame(state_->context.get(), decoded) < 0) {
        return nullptr;
    }
    if (decoded->decode_error_flags != 0) {
        av_frame_unref(decoded);
        return nullptr;
    }
    std::unique_ptr<SwsContext, ScalerFreer> scaler(
        sws_getContext(decoded->width, decoded->height, static_cast<AVPixelFormat>(decoded->format), decoded->width,
                       decoded->height, AV_PIX_FMT_BGRA, SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    std::shared_ptr<const PixelBuffer> picture;
    if (scaler) {
        picture = PixelBuffer::make(decoded->width, decoded->height, [&](const PixelBuffer::Pixels& pixels) {
            std::uint8_t* destination[4] = {pixels.bytes, nullptr, nullptr, nullptr};
            const int destinationStride[4] = {static_cast<int>(pixels.stride), 0, 0, 0};
            sws_scale(scaler.get(), decoded->data, decoded->linesize, 0, decoded->height, destination,
                      destinationStride);
        });
    }
    av_frame_unref(decoded);
    return picture;
}

}  // namespace vantrel::testing
