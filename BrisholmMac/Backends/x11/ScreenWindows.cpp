#include "Backends/x11/ScreenWindows.hpp"

#include <limits>

namespace vantrel::desktop {

namespace {

constexpr double minimumOpacity = 0.05;
constexpr double minimumWidth = 120;
constexpr double minimumHeight = 80;

}  // namespace

std::optional<pid_t> owningProcess(std::optional<std::uint32_t> pid) {
    if (!pid || *pid == 0 || *pid > static_cast<std::uint32_t>(std::numeric_limits<pid_t>::max())) {
        return std::nullopt;
    }
    return static_cast<pid_t>(*pid);
}

std::optional<WindowList::Window> screenWindow(const StackedWindowFacts& facts) {
    const bool ordinary =
        facts.type == WindowFacts::Type::normal || (facts.type == WindowFacts::Type::unset && !facts.transient);
    if (!ordinary || !facts.viewable || facts.hidden || !facts.area) {
        return std::nullopt;
    }
    if (facts.opacity &&
        static_cast<double>(*facts.opacity) / std::numeric_limits<std::uint32_t>::max() <= minimumOpacity) {
        return std::nullopt;
    }
    const auto pid = owningProcess(facts.pid);
    if (!pid) {
        return std::nullopt;
    }
    const auto& e = facts.extents;
    const Rect frame{facts.area->x - e.left, facts.area->y - e.top, facts.area->width + e.left + e.right,
                     facts.area->height + e.top + e.bottom};
    if (frame.width < minimumWidth || frame.height < minimumHeight) {
        return std::nullopt;
    }
    return WindowList::Window{facts.window, *pid, frame};
}

}  // namespace vantrel::desktop
