#include "Platform/desktop/DesktopEntries.hpp"

#include <memory>

namespace vantrel::desktop {

AppInfoPtr entryById(const std::string& id) {
    // GIO takes ids only in their ".desktop" form; anything else would never match a file.
    if (id.empty() || !id.ends_with(".desktop")) {
        return nullptr;
    }
    return AppInfoPtr(g_desktop_app_info_new(id.c_str()));
}

std::optional<std::string> fileBrowserEntryId() {
    const GObjectPtr<GAppInfo> handler(g_app_info_get_default_for_type("inode/directory", FALSE));
    const char* id = handler ? g_app_info_get_id(handler.get()) : nullptr;
    return id != nullptr ? std::optional<std::string>(id) : std::nullopt;
}

GDesktopAppInfo* DesktopEntries::find(const std::string& id) {
    auto [position, inserted] = entries_.try_emplace(id);
    if (inserted) {
        position->second = entryById(id);
    }
    return position->second.get();
}

std::optional<std::string> DesktopEntries::byStartupWMClass(const std::string& wmClass) {
    if (!classesLoaded_) {
        loadClasses();
    }
    const auto found = byClass_.find(wmClass);
    return found == byClass_.end() ? std::nullopt : std::optional(found->second);
}

EntryLookup DesktopEntries::lookup() {
    return {
        [this](const std::string& id) { return find(id) != nullptr; },
        [this](const std::string& wmClass) { return byStartupWMClass(wmClass); },
    };
}

void DesktopEntries::loadClasses() {
    classesLoaded_ = true;
    std::unique_ptr<GList, GListOfObjectsFree> all(g_app_info_get_all());
    for (const bool shown : {true, false}) {
        for (GList* item = all.get(); item != nullptr; item = item->next) {
            auto* info = G_APP_INFO(item->data);
            if (!G_IS_DESKTOP_APP_INFO(info) || g_app_info_should_show(info) != shown) {
                continue;
            }
            const char* wmClass = g_desktop_app_info_get_startup_wm_class(G_DESKTOP_APP_INFO(info));
            const char* id = g_app_info_get_id(info);
            if (wmClass != nullptr && id != nullptr) {
                byClass_.try_emplace(wmClass, id);
            }
        }
    }
}

}  // namespace vantrel::desktop
