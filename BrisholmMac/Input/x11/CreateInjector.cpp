// The injector on the desktop's own X display: the one place that picks the X11 device.
#include "Input/InputInjector.hpp"
#include "Input/x11/X11InputDevice.hpp"

namespace vantrel {

std::shared_ptr<InputInjector> InputInjector::create(ActiveBounds activeBounds) {
    auto device = X11InputDevice::open();
    if (!device) {
        return nullptr;
    }
    return std::make_shared<InputInjector>(std::move(device), std::move(activeBounds));
}

}  // namespace vantrel
