#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Capture/ScreenCapturer.hpp"

namespace vantrel::x11 {

// A capturer of the X display named displayName (DISPLAY when none) on a connection of its own:
// it lives on the capture queue, apart from the backend's main-thread connection. MIT-SHM (plain
// GetImage without it), DAMAGE for what changed, the XFIXES pointer drawn into the frame. Null
// (with a log line) when the display cannot be opened or has no RandR 1.5 monitors.
[[nodiscard]] std::unique_ptr<ScreenCapturer> makeX11Capturer(const std::optional<std::string>& displayName = {});

}  // namespace vantrel::x11
