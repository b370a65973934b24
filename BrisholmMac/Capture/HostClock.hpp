#pragma once

#include <chrono>
#include <cstdint>

namespace vantrel {

// Microseconds of the host clock (monotonic) at time: the video frames' time stamps, and the
// stamps that tell where a frame's time went. A phone on this machine reads the same clock.
[[nodiscard]] inline std::uint64_t hostClockMicros(std::chrono::steady_clock::time_point time) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    return micros < 0 ? 0 : static_cast<std::uint64_t>(micros);
}

}  // namespace vantrel
