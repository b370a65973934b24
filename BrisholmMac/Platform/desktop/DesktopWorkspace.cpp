#include "Platform/desktop/DesktopWorkspace.hpp"

#include <gio/gdesktopappinfo.h>

#include <unordered_set>

#include "Platform/desktop/DesktopEntries.hpp"
#include "Platform/desktop/GioHandles.hpp"
#include "Platform/desktop/GnomeFavourites.hpp"

namespace vantrel::desktop {

namespace {

// Shown when an entry names no icon or one the theme lacks, as desktops show such entries.
constexpr const char* genericApplicationIcon = "application-x-executable";

AppInfoPtr entryAt(const std::string& location) {
    if (location.empty()) {
        return nullptr;
    }
    return AppInfoPtr(g_desktop_app_info_new_from_filename(location.c_str()));
}

std::string text(const char* value) {
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

DesktopWorkspace::DesktopWorkspace(std::shared_ptr<IconRenderer> icons, std::shared_ptr<RunningWindows> windows)
    : icons_(std::move(icons)), windows_(std::move(windows)) {}
DesktopWorkspace::~DesktopWorkspace() = default;

std::vector<std::string> DesktopWorkspace::pinnedIds() {
    return gnomeFavourites();
}

std::vector<DesktopWorkspace::Window> DesktopWorkspace::applicationWindows() {
    if (!windows_) {
        return {};
    }
    const auto clients = windows_->clientWindows();
    if (clients.empty()) {
        return {};
    }
    DesktopEntries entries;
    const EntryLookup lookup = entries.lookup();

    std::vector<Window> result;
    for (const auto& facts : clients) {
        if (!isRegularApplicationWindow(facts)) {
            continue;
        }
        auto id = matchDesktopEntry(facts, lookup);
        GDesktopAppInfo* const entry = id ? entries.find(*id) : nullptr;
        if (entry == nullptr) {
            continue;
        }
        RunningApplication application{*id, std::nullopt, std::nullopt};
        if (const char* file = g_desktop_app_info_get_filename(entry)) {
            application.location = file;
        }
        if (const char* name = g_app_info_get_name(G_APP_INFO(entry))) {
            application.localizedName = name;
        }
        result.push_back({facts.window, std::move(application)});
    }
    return result;
}

std::vector<RunningApplication> DesktopWorkspace::runningApplications() {
    std::vector<RunningApplication> applications;
    std::unordered_set<std::string> listed;
    for (auto& window : applicationWindows()) {
        if (listed.insert(window.application.id).second) {
            applications.push_back(std::move(window.application));
        }
    }
    return applications;
}

std::optional<std::string> DesktopWorkspace::locate(const std::string& id) {
    const auto entry = entryById(id);
    if (!entry) {
        return std::nullopt;
    }
    const char* file = g_desktop_app_info_get_filename(entry.get());
    return file != nullptr ? std::optional<std::string>(file) : std::nullopt;
}

std::string DesktopWorkspace::displayName(const std::string& location) {
    if (const auto entry = entryAt(location)) {
        return text(g_app_info_get_name(G_APP_INFO(entry.get())));
    }
    // Not a readable entry (any more): its file name is the best name left.
    auto name = location.substr(location.find_last_of('/') + 1);
    if (name.ends_with(".desktop")) {
        name.erase(name.size() - std::string_view(".desktop").size());
    }
    return name;
}

std::optional<Bytes> DesktopWorkspace::iconPNG(const std::string& location) {
    if (!icons_) {
        return std::nullopt;
    }
    IconSource source;
    if (const auto entry = entryAt(location)) {
        GIcon* const icon = g_app_info_get_icon(G_APP_INFO(entry.get()));  // owned by the entry
        if (icon != nullptr && G_IS_THEMED_ICON(icon)) {
            for (const gchar* const* name = g_themed_icon_get_names(G_THEMED_ICON(icon)); *name != nullptr; ++name) {
                source.themedNames.emplace_back(*name);
            }
        } else if (icon != nullptr && G_IS_FILE_ICON(icon)) {
            std::unique_ptr<char, GFree> path(g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon))));
            source.file = text(path.get());
        }
    }
    source.themedNames.emplace_back(genericApplicationIcon);
    return icons_->renderPNG(source, iconSize);
}

void DesktopWorkspace::openOrActivate(const std::string& location) {
    const auto entry = entryAt(location);
    if (!entry) {
        return;
    }
    // A running application is brought forward through its front-most window.
    std::unordered_set<std::uint32_t> ownWindows;
    for (const auto& window : applicationWindows()) {
        if (window.application.location == location) {
            ownWindows.insert(window.window);
        }
    }
    if (!ownWindows.empty() && windows_->activateFrontmost(ownWindows)) {
        return;
    }
    GObjectPtr<GAppLaunchContext> context(g_app_launch_context_new());
    // The host may draw offscreen (the headless host does, through this variable); a Qt
    // application started from the phone would inherit that and never show a window.
    if (const char* platform = g_getenv("QT_QPA_PLATFORM");
        platform != nullptr && (g_str_equal(platform, "offscreen") || g_str_equal(platform, "minimal"))) {
        g_app_launch_context_unsetenv(context.get(), "QT_QPA_PLATFORM");
    }
    GError* rawError = nullptr;
    g_app_info_launch(G_APP_INFO(entry.get()), nullptr, context.get(), &rawError);
    std::unique_ptr<GError, GErrorFree> error(rawError);  // not reported: the next list shows the outcome
}

}  // namespace vantrel::desktop
