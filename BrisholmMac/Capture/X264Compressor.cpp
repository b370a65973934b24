#include "X264Compressor.hpp"

#include <x264.h>

#include <libyuv/convert.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "DamageTracker.hpp"
#include "PixelBuffer.hpp"

namespace vantrel {

std::unique_ptr<Compressor> Compressor::create() {
    return std::make_unique<X264Compressor>();
}

namespace {

struct EncoderCloser {
    void operator()(x264_t* encoder) const { x264_encoder_close(encoder); }
};
using EncoderHandle = std::unique_ptr<x264_t, EncoderCloser>;

struct PictureCleaner {
    void operator()(x264_picture_t* picture) const {
        x264_picture_clean(picture);
        delete picture;
    }
};
using PictureHandle = std::unique_ptr<x264_picture_t, PictureCleaner>;

// Parsed options may allocate strings inside the parameters.
struct ParamCleaner {
    void operator()(x264_param_t* param) const {
        x264_param_cleanup(param);
        delete param;
    }
};
using ParamHandle = std::unique_ptr<x264_param_t, ParamCleaner>;

// x264 counts rates in kbit/s and buffer sizes in kbit.
int kilobits(std::int64_t bits) {
    return static_cast<int>(std::clamp<std::int64_t>(bits / 1000, 1, 2'000'000));
}

// Sets the rate x264 plans with, given that the next picture stands for creditMicros of real time
// while x264 counts every picture as one frame at framesPerSecond: the wanted bitrate scaled by
// that ratio. The peak rate equals the average, so x264 runs its constant-rate control (its
// average-rate correction assumes one fixed bitrate and would misjudge the scaled ones). The
// rate-control buffer holds vbvFrames pictures at the rate pictures actually come, and at most
// one second of the wanted bitrate: no picture can be larger, so a forced key frame costs the
// phone at most that much extra delay on a link that just carries the average.
void applyRate(x264_param_t& param, std::int64_t bitsPerSecond, std::int64_t framesPerSecond, double vbvFrames,
               std::int64_t creditMicros) {
    const double frameMicros = static_cast<double>(RateClock::microsPerSecond) / static_cast<double>(framesPerSecond);
    const double scale = static_cast<double>(creditMicros) / frameMicros;
    const int rate = kilobits(std::llround(static_cast<double>(bitsPerSecond) * scale));
    param.rc.i_rc_method = X264_RC_ABR;
    param.rc.i_bitrate = rate;
    param.rc.i_vbv_max_bitrate = rate;
    const double buffer = std::min(std::ceil(rate * vbvFrames / static_cast<double>(framesPerSecond)),
                                   static_cast<double>(kilobits(bitsPerSecond)));
    param.rc.i_vbv_buffer_size = std::max(1, static_cast<int>(std::min(buffer, 2e6)));
}

// The raw NAL unit behind one length-prefixed x264 NAL.
Bytes withoutLengthPrefix(const x264_nal_t& nal) {
    constexpr int prefixLength = 4;
    if (nal.i_payload <= prefixLength) {
        return {};
    }
    return Bytes(nal.p_payload + prefixLength, nal.p_payload + nal.i_payload);
}

class X264Session final : public CompressionSession {
public:
    X264Session(ParamHandle param, EncoderHandle encoder, PictureHandle input, std::int64_t framesPerSecond,
                std::int64_t bitrate, const X264Options& options)
        : param_(std::move(param)),
          encoder_(std::move(encoder)),
          input_(std::move(input)),
          framesPerSecond_(framesPerSecond),
          vbvFrames_(options.vbvFrames),
          sharpQuantizer_(options.sharpQuantizer),
          bitrate_(bitrate),
          clock_(framesPerSecond),
          plannedRate_(param_->rc.i_bitrate) {}

    void setBitrate(std::int64_t bitsPerSecond) override { bitrate_ = bitsPerSecond; }

    std::optional<CompressedFrame> compress(const PixelBuffer& picture, bool forceKeyframe) override {
        return compressPicture(picture, PictureOptions{forceKeyframe, std::nullopt, false});
    }

    std::optional<CompressedFrame> compressPicture(const PixelBuffer& picture, const PictureOptions& options) override {
        if (picture.width() != param_->i_width || picture.height() != param_->i_height) {
            return std::nullopt;
        }
        const auto converted = convert(picture);
        if (!converted) {
            return std::nullopt;
        }
        const auto convertedAt = std::chrono::steady_clock::now();
        markUnchanged(*converted, options.forceKeyframe || options.refinement);
        // A refinement runs through the normal rate control: with the rate-control buffer on, x264
        // pulls a forced low quantizer back to its own level row by row, so one low-quantizer
        // picture cannot be had without giving up the buffer's cap on key frames. The time a still
        // picture stands for is credited to it (see RateClock), and x264 lowers the quantizer from
        // pass to pass as the remaining difference shrinks.
        input_->i_type = options.forceKeyframe ? X264_TYPE_IDR : X264_TYPE_AUTO;
        // The rate control budgets each picture by its presentation time, so the stream keeps its
        // bitrate whether the screen changes sixty times a second or five. The host's own time
        // stamps travel beside the picture, since each picture comes back out of this very call.
        plan(clock_.credit(options.timestampMicros));
        input_->i_pts = nextPts_++;

        x264_nal_t* nals = nullptr;
        int nalCount = 0;
        x264_picture_t output;
        x264_picture_init(&output);
        const int size = x264_encoder_encode(encoder_.get(), &nals, &nalCount, input_.get(), &output);
        if (!options.refinement) {
            sharpPasses_ = 0;
        }
        if (size < 0) {
            return std::nullopt;
        }
        CompressedFrame frame;
        frame.isKeyframe = output.b_keyframe != 0;
        frame.converted = convertedAt;
        // x264 reports the picture's average quantizer plus one.
        frame.refinable = options.refinement && stillSharpening(output.i_qpplus1 - 1);
        if (size > 0 && nals != nullptr) {
            // With b_annexb off each NAL is already its 4-byte big-endian length and its bytes,
            // and x264 lays the NALs of one picture out back to back.
            frame.payload.reserve(static_cast<std::size_t>(size));
            for (int index = 0; index < nalCount; ++index) {
                frame.payload.insert(frame.payload.end(), nals[index].p_payload,
                                     nals[index].p_payload + nals[index].i_payload);
            }
        }
        if (frame.isKeyframe) {
            // Read after the picture has been copied out: the headers reuse x264's NAL buffer.
            frame.format = streamFormat();
        }
        return frame;
    }

private:
    // Converts picture into x264's input planes. The planes still hold the last picture converted,
    // so a picture that says where it differs from that one has only that part converted (a
    // moving bar on a still screen costs its box, not the 16 MB of a 2560x1600 picture), and the
    // same picture again (a refinement, a key frame on request) costs nothing. Returns the box
    // that was converted: outside it the picture equals the one before. No value on failure.
    std::optional<PixelBox> convert(const PixelBuffer& picture) {
        const auto serial = std::exchange(convertedSerial_, 0);
        PixelBox box{0, 0, picture.width(), picture.height()};
        if (picture.serial() == serial) {
            box = {};
        } else if (const auto& change = picture.change(); change && change->since == serial) {
            // 4:2:0 chroma covers 2x2 pixels: widen the box to even edges.
            const std::int32_t left = change->x & ~1;
            const std::int32_t top = change->y & ~1;
            const PixelBox changed{left, top, ((change->x + change->width + 1) & ~1) - left,
                                   ((change->y + change->height + 1) & ~1) - top};
            box = changed.intersected(box);
        }
        if (!box.isEmpty()) {
            auto& image = input_->img;
            const auto* source = picture.data() + static_cast<std::size_t>(box.y) * picture.stride() +
                                 static_cast<std::size_t>(box.x) * PixelBuffer::bytesPerPixel;
            auto plane = [&](int index, int divisor) {
                return image.plane[index] + static_cast<std::ptrdiff_t>(box.y / divisor) * image.i_stride[index] +
                       box.x / divisor;
            };
            if (libyuv::ARGBToI420(source, static_cast<int>(picture.stride()), plane(0, 1), image.i_stride[0],
                                   plane(1, 2), image.i_stride[1], plane(2, 2), image.i_stride[2], box.width,
                                   box.height) != 0) {
                return std::nullopt;
            }
        }
        convertedSerial_ = picture.serial();
        return box;
    }

    // Marks the macroblocks outside changed as unchanged since the last picture, so that x264
    // skips their analysis and codes them as skipped (it still codes one whose reference came out
    // coarser than this picture's quantizer): on a mostly still screen most of the encoding cost
    // goes. Not for key frames and refinements, which are about the whole picture.
    void markUnchanged(const PixelBox& changed, bool wholePicture) {
        input_->prop.mb_info = nullptr;
        const std::int32_t columns = (param_->i_width + 15) / 16;
        const std::int32_t rows = (param_->i_height + 15) / 16;
        if (wholePicture || changed == PixelBox{0, 0, param_->i_width, param_->i_height}) {
            return;
        }
        unchanged_.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), X264_MBINFO_CONSTANT);
        if (!changed.isEmpty()) {
            for (std::int32_t row = changed.y / 16; row <= (changed.y + changed.height - 1) / 16; ++row) {
                for (std::int32_t column = changed.x / 16; column <= (changed.x + changed.width - 1) / 16; ++column) {
                    unchanged_[static_cast<std::size_t>(row * columns + column)] = 0;
                }
            }
        }
        input_->prop.mb_info = unchanged_.data();
    }

    // Sets x264's rate for the next picture, which stands for creditMicros of real time; x264 is
    // reconfigured only when that changes its rate.
    void plan(std::int64_t creditMicros) {
        applyRate(*param_, bitrate_, framesPerSecond_, vbvFrames_, creditMicros);
        if (param_->rc.i_bitrate == plannedRate_) {
            return;
        }
        // A rejected value leaves the previous rate in force, which is the best we can do.
        x264_encoder_reconfig(encoder_.get(), param_.get());
        plannedRate_ = param_->rc.i_bitrate;
    }

    // Whether another refinement pass would still sharpen the picture, after one that came out at
    // quantizer (x264's average). x264 lowers its quantizer step by step from the motion's level;
    // once at the sharp level it needs a few passes to code the whole difference (they are
    // limited by the rate-control buffer), and from there each pass costs as much again for less
    // than a decibel the eye does not see.
    bool stillSharpening(int quantizer) {
        constexpr int passesAtSharpLevel = 4;
        if (quantizer <= sharpQuantizer_) {
            ++sharpPasses_;
        }
        return sharpPasses_ < passesAtSharpLevel;
    }

    std::optional<StreamFormat> streamFormat() {
        x264_nal_t* nals = nullptr;
        int nalCount = 0;
        if (x264_encoder_headers(encoder_.get(), &nals, &nalCount) < 0 || nals == nullptr) {
            return std::nullopt;
        }
        StreamFormat format;
        format.width = param_->i_width;
        format.height = param_->i_height;
        // Sequence parameter set first, then picture parameter set; x264's version SEI stays out.
        for (const int type : {NAL_SPS, NAL_PPS}) {
            for (int index = 0; index < nalCount; ++index) {
                if (nals[index].i_type == type) {
                    auto unit = withoutLengthPrefix(nals[index]);
                    if (!unit.empty()) {
                        format.parameterSets.push_back(std::move(unit));
                    }
                }
            }
        }
        return format;
    }

    // Kept for reconfiguration: x264 takes a whole parameter set and copies what may change.
    ParamHandle param_;
    EncoderHandle encoder_;
    PictureHandle input_;
    const std::int64_t framesPerSecond_;
    const double vbvFrames_;
    const int sharpQuantizer_;
    int sharpPasses_ = 0;                  // refinement passes at the sharp level since the last picture that moved
    std::uint64_t convertedSerial_ = 0;    // the picture the input planes hold; 0 for none
    std::vector<std::uint8_t> unchanged_;  // x264's per-macroblock flags for the next picture
    std::int64_t bitrate_;
    RateClock clock_;
    int plannedRate_;  // kbit/s x264 currently plans with
    std::int64_t nextPts_ = 0;
};

}  // namespace

RateClock::RateClock(std::int64_t framesPerSecond)
    : frame_(microsPerSecond / std::clamp<std::int64_t>(framesPerSecond, 1, microsPerSecond)) {}

std::int64_t RateClock::credit(std::optional<std::uint64_t> timestampMicros) {
    std::int64_t elapsed = frame_;
    if (timestampMicros && last_) {
        elapsed = *timestampMicros > *last_
                      ? static_cast<std::int64_t>(std::min<std::uint64_t>(*timestampMicros - *last_, microsPerSecond))
                      : 0;
    }
    if (timestampMicros || last_) {
        last_ = timestampMicros ? *timestampMicros : *last_ + static_cast<std::uint64_t>(frame_);
    }
    const std::int64_t available = elapsed + owed_;
    const std::int64_t credited = std::clamp(available, frame_, std::max(frame_, microsPerSecond));
    owed_ = std::clamp<std::int64_t>(available - credited, -microsPerSecond, 0);
    return credited;
}

X264Compressor::X264Compressor(X264Options options) : options_(std::move(options)) {}

std::unique_ptr<CompressionSession> X264Compressor::makeSession(const CompressionSettings& settings) {
    // 4:2:0 needs even sides; the stream sizes the host announces always are.
    if (settings.width < 2 || settings.height < 2 || settings.width % 2 != 0 || settings.height % 2 != 0 ||
        settings.width > PixelBuffer::maxDimension || settings.height > PixelBuffer::maxDimension ||
        settings.framesPerSecond < 1 || settings.framesPerSecond > 1000) {
        return nullptr;
    }
    ParamHandle paramHandle(new x264_param_t);
    auto& param = *paramHandle;
    if (x264_param_default_preset(&param, options_.preset.c_str(), "zerolatency") < 0) {
        // x264_param_default has run inside it, so the handle may clean up as usual.
        return nullptr;
    }
    param.analyse.b_dct_decimate =
        std::int64_t{settings.width} * settings.height > options_.decimateAbovePixels ? 1 : 0;
    for (const auto& [name, value] : options_.overrides) {
        if (x264_param_parse(&param, name.c_str(), value.c_str()) != 0) {
            return nullptr;
        }
    }
    param.i_log_level = X264_LOG_ERROR;
    param.i_csp = X264_CSP_I420;
    param.i_width = settings.width;
    param.i_height = settings.height;
    param.i_fps_num = static_cast<std::uint32_t>(settings.framesPerSecond);
    param.i_fps_den = 1;
    // x264's own variable-frame-rate mode holds every picture back until the next one arrives
    // (it takes a picture's duration from its successor), which would leave a still screen's last
    // picture unsent. The rate control instead runs at a constant frame rate and the bitrate it is
    // given is scaled per picture by the real time that picture stands for (see RateClock).
    param.b_vfr_input = 0;
    // Low latency first: every picture comes out of the call that submits it.
    param.i_bframe = 0;
    param.rc.i_lookahead = 0;
    param.i_sync_lookahead = 0;
    param.rc.b_mb_tree = 0;
    param.b_sliced_threads = 1;
    // Unchanged macroblocks are named per picture (see markUnchanged).
    param.analyse.b_mb_info = 1;
    param.i_threads = options_.threads > 0 ? options_.threads : X264_THREADS_AUTO;
    // Key frames are IDR pictures (a phone may join at any of them), never later than the interval.
    param.i_keyint_max = static_cast<int>(std::clamp<std::int64_t>(settings.maxKeyframeInterval, 1, 1 << 20));
    param.b_open_gop = 0;
    param.b_intra_refresh = 0;
    // Length-prefixed NAL units; the parameter sets travel only in the stream configuration.
    param.b_annexb = 0;
    param.b_repeat_headers = 0;
    param.b_aud = 0;
    param.i_nal_hrd = X264_NAL_HRD_NONE;
    applyRate(param, settings.bitrate, settings.framesPerSecond, options_.vbvFrames,
              RateClock::microsPerSecond / settings.framesPerSecond);

    EncoderHandle encoder(x264_encoder_open(&param));
    if (!encoder) {
        return nullptr;
    }
    PictureHandle input(new x264_picture_t);
    if (x264_picture_alloc(input.get(), X264_CSP_I420, settings.width, settings.height) < 0) {
        // Nothing was allocated: x264_picture_clean must not run on it.
        delete input.release();
        return nullptr;
    }
    return std::make_unique<X264Session>(std::move(paramHandle), std::move(encoder), std::move(input),
                                         settings.framesPerSecond, settings.bitrate, options_);
}

}  // namespace vantrel
