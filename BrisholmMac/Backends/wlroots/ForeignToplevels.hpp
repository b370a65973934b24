#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Backends/wlroots/WaylandProxies.hpp"

namespace vantrel::wayland {

class WaylandConnection;
class WaylandOutputs;

// What the compositor tells about one application window (a foreign toplevel): no process and no
// place on the screen, only the outputs it shows on.
struct ToplevelFacts {
    std::uint32_t id = 0;                 // ours: counts up as windows appear, never repeats in the process
    std::string appId;                    // the application's id ("org.gnome.Calculator", "foot"), may be empty
    std::string title;                    // its title
    std::vector<std::uint32_t> outputs;   // the outputs it shows on (registry numbers), in the order it entered
    std::optional<std::uint32_t> parent;  // the window it belongs to, for a dialog
    bool activated = false;               // has the keyboard focus
    bool minimized = false;
    bool maximized = false;
    bool fullscreen = false;
    std::uint64_t activatedAt = 0;  // when it was last activated, counting activations; 0 for never

    bool operator==(const ToplevelFacts&) const = default;
};

// Follows the compositor's application windows (wlr foreign toplevels, zwlr_foreign_toplevel_manager_v1)
// on one connection, with the outputs followed there naming the outputs windows enter. A window is
// listed once the compositor has told all about it (its first done) until it closes. The list is as
// fresh as the connection's last dispatch.
//
// Lives on the thread of its connection.
class ForeignToplevels {
public:
    // Binds the compositor's window list and reads it; without one, available() is false (logged once).
    ForeignToplevels(WaylandConnection& connection, WaylandOutputs& outputs);
    ~ForeignToplevels();
    ForeignToplevels(const ForeignToplevels&) = delete;
    ForeignToplevels& operator=(const ForeignToplevels&) = delete;

    // Whether the compositor offers the window list (and has not ended it).
    [[nodiscard]] bool available() const;
    // The windows, in the order they appeared.
    [[nodiscard]] std::vector<ToplevelFacts> toplevels() const;
    // Asks the compositor to bring the window forward (restored first when minimised) for the
    // connection's seat; false when the window is gone or there is no seat to name.
    bool activate(std::uint32_t id);

private:
    struct Toplevel;
    void add(zwlr_foreign_toplevel_handle_v1* handle);
    void numberOldestFirst();
    [[nodiscard]] std::optional<std::uint32_t> idOf(const zwlr_foreign_toplevel_handle_v1* handle) const;

    WaylandConnection& connection_;
    WaylandOutputs& outputs_;
    ProxyPtr<zwlr_foreign_toplevel_manager_v1> manager_;
    ProxyPtr<wl_seat> seat_;
    bool finished_ = false;
    std::map<std::uint32_t, std::unique_ptr<Toplevel>> toplevels_;
    std::uint64_t activations_ = 0;
};

}  // namespace vantrel::wayland
