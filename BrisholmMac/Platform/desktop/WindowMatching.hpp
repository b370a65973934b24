#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vantrel::desktop {

// What the window list tells about one managed top-level window, already read from the X server.
struct WindowFacts {
    enum class Type { unset, normal, other };

    std::uint32_t window = 0;
    Type type = Type::unset;                      // the first _NET_WM_WINDOW_TYPE the window gives
    bool transient = false;                       // WM_TRANSIENT_FOR is set
    bool skipTaskbar = false;                     // _NET_WM_STATE_SKIP_TASKBAR
    std::optional<std::string> gtkApplicationId;  // _GTK_APPLICATION_ID
    std::optional<std::string> wmInstance;        // WM_CLASS, first string
    std::optional<std::string> wmClass;           // WM_CLASS, second string
};

// Whether the window makes its owner a regular application, one that the user sees in the
// taskbar: a normal window (or one without a type that is not transient for another, which the
// window-manager conventions treat as normal) that does not ask to be left out of the taskbar.
// Minimised windows count: their application still runs, and activating brings them back.
[[nodiscard]] bool isRegularApplicationWindow(const WindowFacts& window);

// How the installed desktop entries are looked up while matching.
struct EntryLookup {
    // Whether a desktop entry with this id ("org.gnome.Calculator.desktop") is installed.
    std::function<bool(const std::string& id)> exists;
    // The id of an installed entry whose StartupWMClass equals wmClass exactly.
    std::function<std::optional<std::string>(const std::string& wmClass)> byStartupWMClass;
};

// The desktop entry that owns the window: first the application id a GTK application announces,
// then an entry that names the window's class (or instance) as its StartupWMClass, then an entry
// whose own id is the class or instance (as given, then in lower case). Absent when none matches.
[[nodiscard]] std::optional<std::string> matchDesktopEntry(const WindowFacts& window, const EntryLookup& entries);

}  // namespace vantrel::desktop
