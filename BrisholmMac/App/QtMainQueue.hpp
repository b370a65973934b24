#pragma once

#include <memory>

#include "Host/MainQueue.hpp"

namespace vantrel {

// The Qt event loop of the application object as the host's main queue. Work posted after the
// application object is gone is dropped.
[[nodiscard]] std::shared_ptr<MainQueue> qtMainQueue();

}  // namespace vantrel
