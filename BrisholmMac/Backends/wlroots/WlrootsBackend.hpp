#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Backends/DesktopBackend.hpp"

namespace vantrel {

// The Wayland globals the wlroots backend cannot do without: capture (screencopy), the pointer
// and the keyboard. A compositor offering all of them gets the backend.
[[nodiscard]] const std::vector<std::string>& wlrootsRequiredInterfaces();

// The interfaces of the compositor on WAYLAND_DISPLAY, none when it does not answer: what the
// session's first look decides on.
[[nodiscard]] std::optional<std::vector<std::string>> waylandInterfacesOffered();

// The backend for a compositor built on wlroots (sway, Hyprland, river, labwc, Wayfire ...), on
// WAYLAND_DISPLAY: outputs through xdg-output, capture through wlr-screencopy, input through the
// virtual pointer and keyboard, windows through the foreign toplevels, and the desktop's generic
// workspace and keep-awake hold.
[[nodiscard]] DesktopBackend makeWlrootsBackend();

}  // namespace vantrel
