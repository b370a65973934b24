#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Backends/x11/ScreenWindows.hpp"
#include "Platform/desktop/WindowMatching.hpp"

namespace vantrel::x11 {
class SharedConnection;
class X11Connection;
}  // namespace vantrel::x11

namespace vantrel::desktop {

// The window manager's list of managed top-level windows on one X display, read with xcb and the
// window-manager conventions (EWMH), and the request that brings one of them to the front.
//
// Lives on the main thread, on a connection it shares (it selects no events of its own).
class X11Windows {
public:
    // The window list read over connection; absent when the connection is missing or broken or the
    // window-manager atoms cannot be read.
    [[nodiscard]] static std::unique_ptr<X11Windows> over(std::shared_ptr<x11::X11Connection> connection);
    // The window list in held, made over the shared connection when there is none and made again
    // when that connection was opened again after the server dropped it; null while the display
    // cannot be opened.
    [[nodiscard]] static X11Windows* on(x11::SharedConnection& shared, std::unique_ptr<X11Windows>& held);
    ~X11Windows();
    X11Windows(const X11Windows&) = delete;
    X11Windows& operator=(const X11Windows&) = delete;

    // Whether the connection has failed (the server went away); such an object stays broken.
    [[nodiscard]] bool broken() const;

    // The managed top-level windows in the order the window manager lists its clients, oldest
    // first (_NET_CLIENT_LIST; the stacking list when the manager offers only that). Windows that
    // disappear while being read are left out.
    [[nodiscard]] std::vector<WindowFacts> clientWindows();

    // The facts of one window; absent when it does not exist (any more).
    [[nodiscard]] std::optional<WindowFacts> windowFacts(std::uint32_t window);

    // The managed windows from the front to the back.
    [[nodiscard]] std::vector<std::uint32_t> stackingFrontToBack();

    // The managed windows from the front to the back with where they are and whether they show
    // (_NET_CLIENT_LIST_STACKING); absent when the manager keeps no such list or the server went
    // away while it was read.
    [[nodiscard]] std::optional<std::vector<StackedWindowFacts>> stackedWindows();

    // The window with the input focus as the window manager reports it.
    [[nodiscard]] std::optional<std::uint32_t> activeWindow();

    // The process that owns window as the window says (_NET_WM_PID); absent when it does not say.
    [[nodiscard]] std::optional<std::uint32_t> pidOf(std::uint32_t window);

    // Asks the window manager to activate window (raise, restore from minimised, focus), as a
    // pager or taskbar would, so that focus-stealing prevention does not refuse it.
    void activate(std::uint32_t window);

private:
    struct State;
    explicit X11Windows(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace vantrel::desktop
