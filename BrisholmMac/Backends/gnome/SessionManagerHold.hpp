#pragma once

#include <memory>

#include "Platform/KeepAwake.hpp"

namespace vantrel::gnome {

// GNOME's own keep-awake: an inhibitor of the session manager (org.gnome.SessionManager.Inhibit
// with the idle and suspend flags), which is what GNOME's idle monitor and power settings obey
// (the freedesktop screen saver interface and logind's idle inhibitor alone do not keep a GNOME
// session from blanking). A session without GNOME's session manager (a bare compositor) gets no
// hold, logged once. Main thread.
[[nodiscard]] std::shared_ptr<KeepAwake> makeSessionManagerHold();

}  // namespace vantrel::gnome
