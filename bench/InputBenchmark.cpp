// How fast the injector drives a real X server (run it inside scripts/test-session.sh):
//   - typing characters the keymap lacks, each on a borrowed key, with every character checked to
//     arrive in a focused window that reads the keymap as applications do;
//   - typing characters the keymap has, for comparison;
//   - pointer moves.
#include <benchmark/benchmark.h>
#include <utf8proc.h>

#include <array>
#include <cstdlib>
#include <string>

#include "Backends/x11/X11Connection.hpp"
#include "Backends/x11/X11InputDevice.hpp"
#include "Backends/x11/tests/KeyRecorder.hpp"
#include "Input/InputInjector.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace {

using namespace vantrel;

constexpr Rect desktop{0, 0, 1920, 1080};

// A focused window to type into and the injector on the display; none (the benchmark skipped
// with the reason) when there is no display to work on.
struct Rig {
    std::unique_ptr<testing::KeyRecorder> recorder;
    std::shared_ptr<InputInjector> injector;

    static std::optional<Rig> open(benchmark::State& state) {
        if (std::getenv("DISPLAY") == nullptr) {
            state.SkipWithError("needs an X display: run inside scripts/test-session.sh");
            return std::nullopt;
        }
        auto device = X11InputDevice::open(x11::X11Connection::open("bench"));
        Rig rig{testing::KeyRecorder::open(desktop),
                device ? std::make_shared<InputInjector>(std::move(device), [] { return std::optional<Rect>(desktop); })
                       : nullptr};
        if (!rig.recorder || !rig.injector) {
            state.SkipWithError("cannot open the display or focus the window");
            return std::nullopt;
        }
        return rig;
    }
};

std::string utf8(char32_t c) {
    std::array<utf8proc_uint8_t, 4> bytes{};
    const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), bytes.data());
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<std::size_t>(length)};
}

// Types text per iteration and waits until the window has received all of it.
void typeAndCheck(benchmark::State& state, const std::string& text, std::size_t characters) {
    auto rig = Rig::open(state);
    if (!rig) {
        return;
    }
    for (auto _ : state) {
        rig->recorder->clear();
        rig->injector->handle(input::Text{text});
        if (!testing::waitUntil([&] { return rig->recorder->text().size() >= text.size(); })) {
            state.SkipWithError("characters went missing");
            return;
        }
        if (rig->recorder->text() != text) {
            state.SkipWithError("characters arrived wrong");
            return;
        }
    }
    state.counters["chars/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * characters), benchmark::Counter::kIsRate);
}

// 64 different CJK characters per round, three times the keymap's empty keys: every character
// needs a key bound for it, and the pool goes round its keys several times.
void typeCharactersNeedingKeys(benchmark::State& state) {
    std::string text;
    static char32_t next = 0x4E00;
    for (int i = 0; i < 64; ++i) {
        text += utf8(next++);
        if (next > 0x9FA0) {
            next = 0x4E00;
        }
    }
    typeAndCheck(state, text, 64);
}
BENCHMARK(typeCharactersNeedingKeys)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same count of characters the US keymap has, some with Shift.
void typeCharactersOnTheKeymap(benchmark::State& state) {
    const std::string text = "The quick brown fox jumps over the lazy dog, 0123456789 times!??";
    typeAndCheck(state, text, text.size());
}
BENCHMARK(typeCharactersOnTheKeymap)->Unit(benchmark::kMillisecond)->UseRealTime();

// Pointer moves, each sent and flushed on its own; the last one is confirmed with a round trip.
void pointerMoves(benchmark::State& state) {
    auto rig = Rig::open(state);
    if (!rig) {
        return;
    }
    double x = 0;
    for (auto _ : state) {
        x = x >= 1000 ? 0 : x + 1;
        rig->injector->handle(input::PointerMoveAbsolute{x / 1920, 0.5});
    }
    if (rig->injector->pointerLocation() != Point{x, 540}) {
        state.SkipWithError("the pointer is not where the last move put it");
    }
    state.counters["moves/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(pointerMoves)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
