#include "App/AppCatalog.hpp"

#include <algorithm>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vantrel {

namespace {

// Names lose every ".app", not only a trailing one: the rule stems from application bundles
// whose display names end in it, and it is kept the same on every platform so that the phone
// sees the same names for the same inputs.
std::string withoutAppSuffix(std::string name) {
    constexpr std::string_view suffix = ".app";
    for (auto position = name.find(suffix); position != std::string::npos; position = name.find(suffix, position)) {
        name.erase(position, suffix.size());
    }
    return name;
}

}  // namespace

AppCatalog::AppCatalog(std::shared_ptr<Workspace> workspace, std::optional<std::string> ownId)
    : workspace_(std::move(workspace)), ownId_(std::move(ownId)) {}

AppList AppCatalog::current() {
    const std::vector<RunningApplication> running = workspace_->runningApplications();
    std::unordered_set<std::string> runningIds;
    for (const auto& application : running) {
        runningIds.insert(application.id);
    }

    std::unordered_set<std::string> seen;
    std::vector<AppEntry> entries;
    const auto isOwn = [this](const std::string& id) { return ownId_ && *ownId_ == id; };

    for (const auto& id : workspace_->pinnedIds()) {
        if (isOwn(id) || seen.contains(id)) {
            continue;
        }
        const auto location = workspace_->locate(id);
        if (!location) {
            continue;
        }
        seen.insert(id);
        entries.push_back(AppEntry{id, withoutAppSuffix(workspace_->displayName(*location)), runningIds.contains(id),
                                   icon(id, *location)});
    }

    for (const auto& application : running) {
        const auto& id = application.id;
        if (isOwn(id) || seen.contains(id) || !application.location) {
            continue;
        }
        seen.insert(id);
        // An empty name is no name: the phone would show a blank tile.
        std::string name = application.localizedName && !application.localizedName->empty()
                               ? *application.localizedName
                               : withoutAppSuffix(workspace_->displayName(*application.location));
        entries.push_back(AppEntry{id, std::move(name), true, icon(id, *application.location)});
    }

    return AppList(std::move(entries));
}

void AppCatalog::open(const std::string& id, const std::optional<AppList>& allowed) {
    if (!allowed) {
        return;
    }
    const bool offered =
        std::any_of(allowed->apps.begin(), allowed->apps.end(), [&](const AppEntry& entry) { return entry.id == id; });
    if (!offered) {
        return;
    }
    if (const auto location = workspace_->locate(id)) {
        workspace_->openOrActivate(*location);
    }
}

std::optional<Bytes> AppCatalog::icon(const std::string& id, const std::string& location) {
    if (const auto cached = iconCache_.find(id); cached != iconCache_.end()) {
        return cached->second;
    }
    // A failure is not remembered: the next list tries again.
    auto png = workspace_->iconPNG(location);
    if (png) {
        iconCache_.emplace(id, *png);
    }
    return png;
}

}  // namespace vantrel
