#include "Backends/wlroots/ToplevelWindows.hpp"

#include <algorithm>
#include <tuple>

namespace vantrel::wayland {

ApplicationOwners::ApplicationOwners(pid_t ownPid, std::set<std::string> ownApplicationIds)
    : ownPid_(ownPid), ownIds_(std::move(ownApplicationIds)) {}

pid_t ApplicationOwners::ownerOf(const ToplevelFacts& toplevel) {
    if (ownIds_.contains(toplevel.appId)) {
        return ownPid_;
    }
    auto& known = toplevel.appId.empty() ? anonymous_[toplevel.id] : numbers_[toplevel.appId];
    if (known == 0) {
        known = next_++;
    }
    return known;
}

std::vector<ToplevelFacts> frontToBack(std::vector<ToplevelFacts> toplevels) {
    std::stable_sort(toplevels.begin(), toplevels.end(), [](const ToplevelFacts& a, const ToplevelFacts& b) {
        return std::make_tuple(a.activated, a.activatedAt, a.id) > std::make_tuple(b.activated, b.activatedAt, b.id);
    });
    return toplevels;
}

std::vector<WindowList::Window> toplevelWindows(const std::vector<ToplevelFacts>& toplevels,
                                                const std::vector<OutputFacts>& outputs, ApplicationOwners& owners) {
    std::vector<WindowList::Window> windows;
    for (const auto& toplevel : frontToBack(toplevels)) {
        if (toplevel.minimized) {
            continue;
        }
        for (const auto id : toplevel.outputs) {
            const auto output =
                std::find_if(outputs.begin(), outputs.end(), [id](const OutputFacts& facts) { return facts.id == id; });
            if (output != outputs.end()) {
                windows.push_back({toplevel.id, owners.ownerOf(toplevel), output->logical});
                break;
            }
        }
    }
    return windows;
}

desktop::WindowFacts toplevelWindowFacts(const ToplevelFacts& toplevel) {
    desktop::WindowFacts facts;
    facts.window = toplevel.id;
    facts.transient = toplevel.parent.has_value();
    if (!toplevel.appId.empty()) {
        facts.gtkApplicationId = toplevel.appId;
        facts.wmClass = toplevel.appId;
        facts.wmInstance = toplevel.appId;
    }
    return facts;
}

}  // namespace vantrel::wayland
