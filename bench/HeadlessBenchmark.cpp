// The headless host's own share of each frame: drawing the test pattern into a fresh buffer, 30
// times a second. Encoding is measured by bench_encoder.
#include <benchmark/benchmark.h>

#include <vector>

#include "Capture/PixelBuffer.hpp"
#include "Headless/TestPattern.hpp"

namespace {

using vantrel::TestPattern;

// A whole frame as the pump makes it: allocation of the pixel buffer included.
void patternFrame(benchmark::State& state) {
    const auto width = state.range(0);
    const auto height = state.range(1);
    TestPattern pattern;
    std::int64_t tick = 0;
    for (auto _ : state) {
        auto frame = pattern.frame(width, height, ++tick);
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(state.iterations() * width * height * 4);
}
BENCHMARK(patternFrame)->Args({1280, 720})->Args({1024, 768})->Unit(benchmark::kMicrosecond);

// Drawing alone, into memory that is reused.
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

}  // namespace

BENCHMARK_MAIN();
