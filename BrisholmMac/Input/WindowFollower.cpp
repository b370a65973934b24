#include "Input/WindowFollower.hpp"

#include <algorithm>
#include <cassert>
#include <utility>

namespace vantrel {

namespace {

// A click of the phone makes the file browser the front application when it lands on the
// desktop background the file browser draws; for this long afterwards that is no reason to follow.
constexpr double clickActivationSeconds = 1.0;

}  // namespace

WindowFollower::WindowFollower(std::shared_ptr<WindowList> windows,
                               std::function<std::vector<DisplayBounds>()> displays,
                               std::function<double()> uptimeSeconds, pid_t ownPid)
    : windows_(std::move(windows)),
      displays_(std::move(displays)),
      uptimeSeconds_(std::move(uptimeSeconds)),
      ownPID_(ownPid) {}

std::optional<FollowDecision> WindowFollower::check(std::uint32_t activeDisplay) {
    assert(std::this_thread::get_id() == thread_);
    auto all = windows_->windows();
    if (!all) {
        // An unreadable list tells nothing about which windows are new. Remembered as an empty
        // desktop it would make every window look new at the next check, so the memory stays.
        return std::nullopt;
    }
    std::erase_if(*all, [this](const Window& window) { return window.pid == ownPID_; });
    const auto front = windows_->frontApplication();

    std::optional<FollowDecision> decision;
    if (primed && front.pid != ownPID_) {
        decision = decide(*all, front, activeDisplay);
    }

    known_.clear();
    for (const auto& window : *all) {
        known_.insert(window.id);
    }
    frontPID_ = front.pid;
    primed = true;
    return decision;
}

std::optional<FollowDecision> WindowFollower::decide(const std::vector<Window>& all,
                                                     const WindowList::FrontApplication& front,
                                                     std::uint32_t activeDisplay) const {
    std::vector<Window> candidates;
    std::copy_if(all.begin(), all.end(), std::back_inserter(candidates),
                 [&front](const Window& window) { return window.pid == front.pid; });
    if (candidates.empty()) {
        return std::nullopt;
    }
    const auto displays = displays_();
    const auto follow = [&](const Window& window) -> std::optional<FollowDecision> {
        const auto target = display(window.bounds, displays);
        if (!target || *target == activeDisplay) {
            return std::nullopt;
        }
        return FollowDecision{*target, window.bounds};
    };

    // A new window of the front application, wherever it opened, even right after a click.
    const auto fresh = std::find_if(candidates.begin(), candidates.end(),
                                    [this](const Window& window) { return !known_.contains(window.id); });
    if (fresh != candidates.end()) {
        return follow(*fresh);
    }

    // Another application came to the front: follow it only when none of its windows can be seen
    // on the streamed display.
    if (front.pid == frontPID_ || suppressed(front)) {
        return std::nullopt;
    }
    if (std::any_of(candidates.begin(), candidates.end(),
                    [&](const Window& window) { return display(window.bounds, displays) == activeDisplay; })) {
        return std::nullopt;
    }
    return follow(candidates.front());
}

bool WindowFollower::suppressed(const WindowList::FrontApplication& front) const {
    if (!front.id || uptimeSeconds_() - lastPhoneClick >= clickActivationSeconds) {
        return false;
    }
    return front.id == windows_->fileBrowserId();
}

std::optional<std::uint32_t> WindowFollower::display(const Rect& of) const {
    return display(of, displays_());
}

std::optional<std::uint32_t> WindowFollower::display(const Rect& of, const std::vector<DisplayBounds>& displays) {
    const auto area = [&of](const DisplayBounds& display) {
        const Rect overlap = display.bounds.intersection(of);
        return overlap.width * overlap.height;
    };
    const DisplayBounds* best = nullptr;
    double bestArea = 0;
    for (const auto& display : displays) {
        // Strictly larger only: of equal parts, the display listed earlier keeps the window.
        if (const double a = area(display); a > bestArea) {
            best = &display;
            bestArea = a;
        }
    }
    return best != nullptr ? std::optional(best->id) : std::nullopt;
}

}  // namespace vantrel
