// The video encoder's cost and output: BGRA conversion plus H.264 compression per frame (wall
// time p50/p99 and CPU time over all of x264's threads), bytes per frame at the send path's
// bitrates, and the measurements behind the choice of x264 preset and rate-control buffer.
//
//   build/<dir>/bench/bench_encoder --benchmark_filter=perFrame
//   build/<dir>/bench/bench_encoder --benchmark_filter=presetQuality
//   build/<dir>/bench/bench_encoder --benchmark_filter=keyframeBurst
//   build/<dir>/bench/bench_encoder --benchmark_filter=motionQuality   (motion and scrolling)
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "StreamDecoder.hpp"
#include "TestPictures.hpp"
#include "VideoEncoder.hpp"
#include "X264Compressor.hpp"

namespace {

using namespace vantrel;

double processCpuMillis() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

enum Content : std::int64_t { movingPattern = 0, desktop = 1, motion = 2, scroll = 3 };

// A source of pictures for one content kind at one size, tick by tick.
std::function<std::shared_ptr<const PixelBuffer>(std::int64_t)> source(Content content, std::int32_t width,
                                                                       std::int32_t height) {
    if (content == movingPattern) {
        auto pattern = std::make_shared<testing::TestPattern>(width, height);
        return [pattern](std::int64_t tick) { return pattern->picture(tick); };
    }
    if (content == motion) {
        auto pictures = std::make_shared<testing::MotionPicture>(width, height);
        return [pictures](std::int64_t tick) { return pictures->picture(tick); };
    }
    if (content == scroll) {
        auto pictures = std::make_shared<testing::ScrollingText>(width, height);
        return [pictures](std::int64_t tick) { return pictures->picture(tick); };
    }
    auto picture = std::make_shared<testing::DesktopPicture>(width, height);
    return [picture](std::int64_t tick) { return picture->picture(tick); };
}

// Conversion plus compression of one frame through the encoder, as the capture queue runs it.
// args: width, height, content, Mbit/s. Wall time is the encode() call alone (the picture is
// made before it); cpu_ms counts every thread of the process during those calls.
void perFrame(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    const auto height = static_cast<std::int32_t>(state.range(1));
    const auto content = static_cast<Content>(state.range(2));
    VideoEncoder encoder;
    encoder.setBitrate(state.range(3) * 1'000'000);
    std::int64_t bytes = 0;
    std::int64_t frames = 0;
    encoder.onFrame = [&](VideoFrame frame) {
        bytes += static_cast<std::int64_t>(frame.payload.size());
        ++frames;
    };
    const auto next = source(content, width, height);
    std::int64_t tick = 0;
    // Past the first key frame and the rate control's start.
    for (; tick < 30; ++tick) {
        encoder.encode(*next(tick), static_cast<std::uint64_t>(tick));
    }
    bytes = 0;
    frames = 0;

    std::vector<double> wallMillis;
    double cpuMillis = 0;
    for (auto _ : state) {
        const auto picture = next(tick);
        const double cpuBefore = processCpuMillis();
        const auto before = std::chrono::steady_clock::now();
        encoder.encode(*picture, static_cast<std::uint64_t>(tick));
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - before;
        cpuMillis += processCpuMillis() - cpuBefore;
        state.SetIterationTime(elapsed.count());
        wallMillis.push_back(elapsed.count() * 1e3);
        ++tick;
    }
    state.counters["p50_ms"] = percentile(wallMillis, 0.50);
    state.counters["p99_ms"] = percentile(wallMillis, 0.99);
    state.counters["cpu_ms"] = cpuMillis / static_cast<double>(wallMillis.size());
    state.counters["bytes_per_frame"] = frames > 0 ? static_cast<double>(bytes) / static_cast<double>(frames) : 0;
}

void perFrameArguments(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"w", "h", "desktop", "mbit"});
    for (const auto& [width, height] : {std::pair{1280, 720}, std::pair{1920, 1080}, std::pair{2560, 1600}}) {
        for (const std::int64_t content : {movingPattern, desktop}) {
            for (const int mbit : {2, 8, 14}) {
                benchmark->Args({width, height, content, mbit});
            }
        }
    }
}
BENCHMARK(perFrame)->Apply(perFrameArguments)->UseManualTime()->Iterations(300)->Unit(benchmark::kMillisecond);

// The candidates for the host's x264 settings, compared by quality per CPU-millisecond.
struct Candidate {
    const char* name;
    X264Options options;
};

// x264 options by preset, overrides, slice threads (0: x264's choice for the cores) and DCT
// decimation; the rest as the host sets them.
X264Options x264(const char* preset, std::vector<std::pair<std::string, std::string>> overrides, int threads,
                 bool decimate) {
    X264Options options;
    options.preset = preset;
    options.overrides = std::move(overrides);
    options.threads = threads;
    options.decimateAbovePixels = decimate ? 0 : std::numeric_limits<std::int64_t>::max();
    return options;
}

const std::vector<Candidate>& candidates() {
    static const std::vector<Candidate> list{
        {"ultrafast", x264("ultrafast", {}, 0, true)},
        {"ultrafast+cabac", x264("ultrafast", {{"cabac", "1"}}, 0, true)},
        {"ultrafast+cabac+8x8dct+subme2",
         x264("ultrafast", {{"cabac", "1"}, {"8x8dct", "1"}, {"subme", "2"}}, 0, true)},
        {"superfast", x264("superfast", {}, 0, true)},
        {"veryfast", x264("veryfast", {}, 0, true)},
        {"ultrafast, one slice", x264("ultrafast", {}, 1, true)},
        {"ultrafast, no decimation (the host's at 1080p)", X264Options{}},
        {"ultrafast, one slice, no decimation", x264("ultrafast", {}, 1, false)},
    };
    return list;
}

// Encodes 2 s of 1080p content with one candidate, decodes it as the phone would and reports
// the mean PSNR against the input with the CPU time per frame. args: candidate, content, Mbit/s.
void presetQuality(benchmark::State& state) {
    const auto& candidate = candidates().at(static_cast<std::size_t>(state.range(0)));
    const auto content = static_cast<Content>(state.range(1));
    constexpr std::int32_t width = 1920;
    constexpr std::int32_t height = 1080;
    constexpr std::int64_t frameCount = 120;
    state.SetLabel(candidate.name);
    const auto next = source(content, width, height);

    double psnrSum = 0;
    double cpuMillis = 0;
    std::int64_t bytes = 0;
    std::int64_t decodedFrames = 0;
    for (auto _ : state) {
        VideoEncoder encoder(std::make_unique<X264Compressor>(candidate.options));
        encoder.setBitrate(state.range(2) * 1'000'000);
        testing::StreamDecoder decoder;
        std::optional<VideoFrame> output;
        encoder.onConfig = [&](VideoConfig config) { decoder.configure(config); };
        encoder.onFrame = [&](VideoFrame frame) { output = std::move(frame); };
        for (std::int64_t tick = 0; tick < frameCount; ++tick) {
            const auto input = next(tick);
            output.reset();
            const double cpuBefore = processCpuMillis();
            encoder.encode(*input, static_cast<std::uint64_t>(tick));
            cpuMillis += processCpuMillis() - cpuBefore;
            // Decoding and measuring stay outside the counted time.
            if (output) {
                bytes += static_cast<std::int64_t>(output->payload.size());
                if (const auto decoded = decoder.decode(*output)) {
                    psnrSum += testing::psnr(*input, *decoded);
                    ++decodedFrames;
                }
            }
        }
    }
    const auto frames = static_cast<double>(state.iterations() * frameCount);
    state.counters["psnr_db"] = decodedFrames > 0 ? psnrSum / static_cast<double>(decodedFrames) : 0;
    state.counters["cpu_ms"] = cpuMillis / frames;
    state.counters["bytes_per_frame"] = static_cast<double>(bytes) / frames;
    state.counters["decoded"] = static_cast<double>(decodedFrames) / frames;
}

void presetQualityArguments(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"candidate", "desktop", "mbit"});
    for (std::int64_t candidate = 0; candidate < static_cast<std::int64_t>(candidates().size()); ++candidate) {
        for (const std::int64_t content : {movingPattern, desktop}) {
            for (const int mbit : {4, 8}) {
                benchmark->Args({candidate, content, mbit});
            }
        }
    }
}
BENCHMARK(presetQuality)->Apply(presetQualityArguments)->Iterations(1)->Unit(benchmark::kMillisecond);

// Full-screen motion (content 2, MotionPicture: a pan with fresh grain, every pixel changes) and a
// full-screen terminal scrolling a fast log (content 3, ScrollingText: 51 pixels a frame) at
// 8 Mbit/s and 60 frames a second of real time, for the threading and option candidates of the
// host's x264 session: CPU-ms per frame for conversion plus compression (all threads), the median
// wall time of one encode, bytes per frame and the mean PSNR of the decoded pictures against the
// input. args: candidate, picture height (1080: 1920x1080, 1600: 2560x1600), content.
const std::vector<Candidate>& motionCandidates() {
    static const std::vector<Candidate> list{
        {"ultrafast, slices for all cores", x264("ultrafast", {}, 0, true)},
        {"ultrafast, one slice", x264("ultrafast", {}, 1, true)},
        {"ultrafast, slices for all cores, no decimation", x264("ultrafast", {}, 0, false)},
        {"ultrafast, one slice, no decimation", x264("ultrafast", {}, 1, false)},
        {"the host's (decimation above 1920x1080)", X264Options{}},
        {"the host's, me umh, merange 64", x264("ultrafast", {{"me", "umh"}, {"merange", "64"}}, 0, false)},
    };
    return list;
}

void motionQuality(benchmark::State& state) {
    const auto& candidate = motionCandidates().at(static_cast<std::size_t>(state.range(0)));
    const std::int32_t height = state.range(1) == 1600 ? 1600 : 1080;
    const std::int32_t width = height == 1600 ? 2560 : 1920;
    constexpr std::int64_t frameCount = 180;
    constexpr std::int64_t warmUp = 30;
    state.SetLabel(candidate.name);
    const auto next = source(static_cast<Content>(state.range(2)), width, height);
    std::vector<std::shared_ptr<const PixelBuffer>> inputs;
    for (std::int64_t tick = 0; tick < frameCount; ++tick) {
        inputs.push_back(next(tick));
    }

    double psnrSum = 0;
    double cpuMillis = 0;
    std::vector<double> wallMillis;
    std::int64_t bytes = 0;
    std::int64_t measured = 0;
    for (auto _ : state) {
        VideoEncoder encoder(std::make_unique<X264Compressor>(candidate.options));
        encoder.setBitrate(8'000'000);
        testing::StreamDecoder decoder;
        std::optional<VideoFrame> output;
        encoder.onConfig = [&](VideoConfig config) { decoder.configure(config); };
        encoder.onFrame = [&](VideoFrame frame) { output = std::move(frame); };
        for (std::int64_t tick = 0; tick < frameCount; ++tick) {
            output.reset();
            const double cpuBefore = processCpuMillis();
            const auto before = std::chrono::steady_clock::now();
            encoder.encode(*inputs[static_cast<std::size_t>(tick)],
                           static_cast<std::uint64_t>(1'000'000 + tick * 16'667));
            const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - before;
            const double cpu = processCpuMillis() - cpuBefore;
            const auto decoded = output ? decoder.decode(*output) : nullptr;
            if (tick >= warmUp && output) {
                cpuMillis += cpu;
                wallMillis.push_back(elapsed.count());
                bytes += static_cast<std::int64_t>(output->payload.size());
                psnrSum += decoded ? testing::psnr(*inputs[static_cast<std::size_t>(tick)], *decoded) : 0;
                ++measured;
            }
        }
    }
    const auto frames = static_cast<double>(std::max<std::int64_t>(measured, 1));
    state.counters["psnr_db"] = psnrSum / frames;
    state.counters["cpu_ms"] = cpuMillis / frames;
    state.counters["wall_p50_ms"] = percentile(wallMillis, 0.5);
    state.counters["bytes_per_frame"] = static_cast<double>(bytes) / frames;
}

void motionQualityArguments(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"candidate", "height", "content"});
    for (const std::int64_t content : {motion, scroll}) {
        for (const std::int64_t height : {1080, 1600}) {
            for (std::int64_t candidate = 0; candidate < static_cast<std::int64_t>(motionCandidates().size());
                 ++candidate) {
                benchmark->Args({candidate, height, content});
            }
        }
    }
}
BENCHMARK(motionQuality)->Apply(motionQualityArguments)->Iterations(1)->Unit(benchmark::kMillisecond);

// What the rate-control buffer does to a forced key frame on 1080p desktop content at 8 Mbit/s:
// its size against the mean delta frame, and its quality and that of the frames after it.
// args: buffer size in tenths of a frame.
void keyframeBurst(benchmark::State& state) {
    const double vbvFrames = static_cast<double>(state.range(0)) / 10.0;
    constexpr std::int32_t width = 1920;
    constexpr std::int32_t height = 1080;
    const auto next = source(desktop, width, height);
    X264Options options;
    options.vbvFrames = vbvFrames;

    double keyframeBytes = 0;
    double deltaBytes = 0;
    double keyframePsnr = 0;
    double afterPsnr = 0;
    for (auto _ : state) {
        VideoEncoder encoder(std::make_unique<X264Compressor>(options));
        testing::StreamDecoder decoder;
        std::shared_ptr<const PixelBuffer> input;
        std::vector<std::pair<std::size_t, double>> sizesAndPsnr;
        encoder.onConfig = [&](VideoConfig config) { decoder.configure(config); };
        encoder.onFrame = [&](VideoFrame frame) {
            const auto decoded = decoder.decode(frame);
            sizesAndPsnr.emplace_back(frame.payload.size(), decoded ? testing::psnr(*input, *decoded) : 0);
        };
        // One second of stream, then a forced key frame (a phone asking after a loss), then 10
        // more frames.
        constexpr std::int64_t forcedAt = 60;
        for (std::int64_t tick = 0; tick <= forcedAt + 10; ++tick) {
            if (tick == forcedAt) {
                encoder.requestKeyframe();
            }
            input = next(tick);
            encoder.encode(*input, static_cast<std::uint64_t>(tick));
        }
        double deltaSum = 0;
        for (std::int64_t tick = 30; tick < forcedAt; ++tick) {
            deltaSum += static_cast<double>(sizesAndPsnr[static_cast<std::size_t>(tick)].first);
        }
        deltaBytes = deltaSum / 30.0;
        keyframeBytes = static_cast<double>(sizesAndPsnr[forcedAt].first);
        keyframePsnr = sizesAndPsnr[forcedAt].second;
        afterPsnr = sizesAndPsnr[forcedAt + 10].second;
    }
    state.counters["keyframe_bytes"] = keyframeBytes;
    state.counters["mean_delta_bytes"] = deltaBytes;
    state.counters["average_frame_bytes"] = 8'000'000.0 / 8.0 / 60.0;
    state.counters["keyframe_psnr_db"] = keyframePsnr;
    state.counters["psnr_10_later_db"] = afterPsnr;
}
BENCHMARK(keyframeBurst)
    ->ArgName("vbv_tenths")
    ->Arg(10)
    ->Arg(20)
    ->Arg(40)
    ->Arg(80)
    ->Arg(160)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
