#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Capture/ScreenCapturer.hpp"

namespace vantrel::wayland {

// A capturer of the outputs of a wlroots compositor (WAYLAND_DISPLAY when displayName is none), on
// a connection of its own that lives on the capture queue: wlr-screencopy with damage into
// shared-memory buffers, the pointer drawn in by the compositor. Null (with a log line) when the
// compositor cannot be reached or offers no screencopy (version 2 or later) or no wl_shm.
[[nodiscard]] std::unique_ptr<ScreenCapturer> makeWlrootsCapturer(const std::optional<std::string>& displayName = {});

}  // namespace vantrel::wayland
