// The two message bodies on the hot paths: every encoded picture is written as a VideoFrame on the
// send path, and every touch on the phone arrives as an input event to decode.
#include <benchmark/benchmark.h>

#include <string_view>

#include "vantrel/InputEvent.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/VideoMessages.hpp"

namespace {

using namespace vantrel;

void encodeVideoFrame(benchmark::State& state) {
    const VideoFrame frame{true, 123'456'789, Bytes(static_cast<std::size_t>(state.range(0)), 0x5A)};
    for (auto _ : state) {
        Bytes body = frame.encoded();
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(encodeVideoFrame)->Arg(100 * 1000);

void decodeVideoFrame(benchmark::State& state) {
    const Bytes body = VideoFrame{true, 1, Bytes(static_cast<std::size_t>(state.range(0)), 0x5A)}.encoded();
    for (auto _ : state) {
        auto frame = VideoFrame::decode(body);
        benchmark::DoNotOptimize(frame->payload.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(decodeVideoFrame)->Arg(100 * 1000);

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

void decodeInput(benchmark::State& state, std::string_view json) {
    const Bytes body = bytesOf(json);
    for (auto _ : state) {
        auto event = JSONMessage::decode<InputEvent>(body);
        benchmark::DoNotOptimize(event);
    }
}
BENCHMARK_CAPTURE(decodeInput, pointerMove, R"({"pointerMove":{"dx":1.25,"dy":-3.5}})");
BENCHMARK_CAPTURE(decodeInput, key, R"({"key":{"code":36,"down":true,"modifiers":9}})");
BENCHMARK_CAPTURE(decodeInput, text, R"({"text":{"_0":"Hello, world"}})");

void encodeInput(benchmark::State& state) {
    const InputEvent event = input::PointerMove{1.25, -3.5};
    for (auto _ : state) {
        Bytes body = JSONMessage::encode(event);
        benchmark::DoNotOptimize(body.data());
    }
}
BENCHMARK(encodeInput);

}  // namespace

BENCHMARK_MAIN();
