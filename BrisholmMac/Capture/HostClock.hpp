#pragma once

#include <chrono>
#include <cstdint>

namespace vantrel {

// Microseconds of the host clock (monotonic) at time: the video frames' time stamps, and the
// stamps that tell where a frame's time went. A phone on this machine reads the same clock.
[[nodiscard]] std::uint64_t hostClockMicros(std::chrono::steady_clock::time_point time);

}  // namespace vantrel
