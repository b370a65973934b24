#pragma once

#include <gio/gdesktopappinfo.h>

#include <map>
#include <optional>
#include <string>

#include "Platform/desktop/GioHandles.hpp"
#include "Platform/desktop/WindowMatching.hpp"

namespace vantrel::desktop {

using AppInfoPtr = GObjectPtr<GDesktopAppInfo>;

// The installed entry with this id ("org.gnome.Calculator.desktop"); null when there is none.
[[nodiscard]] AppInfoPtr entryById(const std::string& id);

// The id of the session's file browser: the default handler of folders (inode/directory); none
// when no entry handles them.
[[nodiscard]] std::optional<std::string> fileBrowserEntryId();

// The installed desktop entries as one listing of windows sees them: each id is read once, and
// the entries naming a StartupWMClass only when a window needs them, since reading every installed
// entry costs far more than the few windows of a session. Make one per listing, so that entries
// installed or removed meanwhile show in the next. Lives on the thread that lists (main).
class DesktopEntries {
public:
    // The entry with this id, owned by this object; null when it is not installed.
    [[nodiscard]] GDesktopAppInfo* find(const std::string& id);

    // The id of an entry whose StartupWMClass is wmClass; entries shown in menus win over hidden
    // helpers that claim the same class.
    [[nodiscard]] std::optional<std::string> byStartupWMClass(const std::string& wmClass);

    // Both lookups, for matchDesktopEntry; valid while this object lives.
    [[nodiscard]] EntryLookup lookup();

private:
    void loadClasses();

    std::map<std::string, AppInfoPtr> entries_;
    bool classesLoaded_ = false;
    std::map<std::string, std::string> byClass_;
};

}  // namespace vantrel::desktop
