#pragma once

#include <memory>

#include "Capture/Displays.hpp"

namespace vantrel::x11 {

class SharedConnection;

// The displays of the backend's shared connection: its RandR 1.5 monitors, read afresh at every
// call. Null (with a log line) when the display cannot be opened or has no RandR 1.5 monitors.
//
// Lives on the main thread.
[[nodiscard]] std::shared_ptr<Displays> makeX11Displays(std::shared_ptr<SharedConnection> shared);

}  // namespace vantrel::x11
