#pragma once

#include <memory>

#include "Backends/gnome/RemoteSession.hpp"
#include "Capture/ScreenCapturer.hpp"

namespace vantrel::gnome {

// A capturer of one monitor of a GNOME session: the monitor recorded into the phone's remote
// desktop session (taken from broker, shared with the input device), its frames taken from the
// PipeWire stream. Null with a logged reason when the session cannot be made.
//
// Lives on the capture queue.
[[nodiscard]] std::unique_ptr<ScreenCapturer> makePipeWireCapturer(const std::shared_ptr<SessionBroker>& broker);

}  // namespace vantrel::gnome
