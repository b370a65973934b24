#pragma once

#include <functional>
#include <optional>

#include "Backends/x11/X11Connection.hpp"

namespace vantrel::x11 {

// Has the server report the raw motion of every pointing device on connection (XInput 2), and
// calls moved for each such event dispatched there: the pointer moved, whether a hand or the
// phone's injector (XTest) moved it. A warp by an application is no device motion and goes
// unreported. None when the server lacks XInput 2 or refuses; the motion is reported until the
// subscription ends (the selection itself lasts as long as the connection).
[[nodiscard]] std::optional<X11Connection::Subscription> watchPointerMotion(X11Connection& connection,
                                                                            std::function<void()> moved);

}  // namespace vantrel::x11
