#pragma once

#include <memory>

#include "Platform/KeepAwake.hpp"

namespace vantrel::desktop {

// The keep-awake hold of a freedesktop session over D-Bus, whatever draws the desktop: the
// session's screen saver inhibited (org.freedesktop.ScreenSaver) and logind's idle inhibitor held,
// with the backend's own hold (the X screen saver's suspension on X11; none elsewhere) taken
// between the two and given back with them. Each part is optional: a session without one still
// gets the others.
[[nodiscard]] std::shared_ptr<KeepAwake> makeSessionKeepAwake(std::shared_ptr<KeepAwake> backendHold = nullptr);

}  // namespace vantrel::desktop
