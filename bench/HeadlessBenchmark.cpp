// The headless host's cost per frame: drawing the test pattern, and drawing plus encoding it as
// the screen streamer does 30 times a second.
//
//   build/<dir>/bench/bench_headless
//   build/<dir>/bench/bench_headless --benchmark_filter=pumpedFrame   (CPU of all of x264's threads)
#include <benchmark/benchmark.h>

#include <vector>

#include "Capture/PixelBuffer.hpp"
#include "Capture/VideoEncoder.hpp"
#include "Headless/TestPattern.hpp"

namespace {

using vantrel::TestPattern;

// A frame as the streamer asks for it, holding the one before (its last frame): the pattern
// draws over the frame before that, only the columns its bar left and the new bar entered.
void patternFrame(benchmark::State& state) {
    const auto width = state.range(0);
    const auto height = state.range(1);
    TestPattern pattern;
    std::int64_t tick = 0;
    std::shared_ptr<const vantrel::PixelBuffer> last;
    for (auto _ : state) {
        last = pattern.frame(width, height, ++tick);
        benchmark::DoNotOptimize(last);
    }
    state.SetBytesProcessed(state.iterations() * width * height * 4);
}
BENCHMARK(patternFrame)->Args({1280, 720})->Args({1024, 768})->Unit(benchmark::kMicrosecond);

// Drawing a whole frame, into memory that is reused (a new size, or a frame still held).
void patternRender(benchmark::State& state) {
    const auto width = state.range(0);
    const auto height = state.range(1);
    std::vector<std::uint8_t> memory(static_cast<std::size_t>(width * height * 4));
    TestPattern pattern;
    std::int64_t tick = 0;
    for (auto _ : state) {
        pattern.render(memory.data(), static_cast<std::size_t>(width * 4), width, height, ++tick);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * width * height * 4);
}
BENCHMARK(patternRender)->Args({1280, 720})->Unit(benchmark::kMicrosecond);

// One streamer tick: the pattern drawn and encoded by the host's own encoder at the bitrate given
// (args: width, height, Mbit/s, whether the bar moves), the time stamps 33 ms apart as the streamer
// makes them. The process CPU time counts x264's slice threads; at 30 frames a second, CPU-ms per
// frame x 3 is the share of one core in per cent. With the bar standing still every picture is
// all skipped blocks: what remains is x264's own cost per picture of that size.
void pumpedFrame(benchmark::State& state) {
    const auto width = state.range(0);
    const auto height = state.range(1);
    vantrel::VideoEncoder encoder;
    encoder.setBitrate(state.range(2) * 1'000'000);
    std::int64_t bytes = 0;
    encoder.onFrame = [&bytes](vantrel::VideoFrame frame) { bytes += static_cast<std::int64_t>(frame.payload.size()); };
    const bool moving = state.range(3) != 0;
    TestPattern pattern;
    std::int64_t tick = 0;
    std::uint64_t timestamp = 1'000'000;
    // The first key frame and the rate control's start are not what a tick costs once running.
    for (; tick < 30; ++tick, timestamp += 33'333) {
        encoder.encode(*pattern.frame(width, height, tick), timestamp);
    }
    bytes = 0;
    for (auto _ : state) {
        encoder.encode(*pattern.frame(width, height, moving ? ++tick : tick), timestamp);
        timestamp += 33'333;
    }
    state.counters["bytes_per_frame"] =
        benchmark::Counter(static_cast<double>(bytes) / static_cast<double>(state.iterations()));
}
BENCHMARK(pumpedFrame)
    ->Args({1280, 720, 8, 1})
    ->Args({1280, 720, 14, 1})
    ->Args({1280, 720, 8, 0})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
