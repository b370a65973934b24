#pragma once

#include <string>

namespace vantrel::desktop::testing {

// A private desktop for the tests, made by the test program's main before GIO or Qt read their
// environment (both read it once per process): XDG_DATA_DIRS holds only the test entries (one of
// them the default handler of folders) and a hicolor theme with a 16-pixel red PNG icon and a blue
// SVG icon; XDG_DATA_HOME and the XDG configuration directories are empty;
// GSettings keeps values in memory; Qt draws offscreen.
struct DesktopFixture {
    std::string root;       // removed when the program ends
    std::string dataDir;    // the only XDG data directory
    std::string schemaDir;  // compiled schemas holding a stand-in org.gnome.shell

    [[nodiscard]] std::string entry(const std::string& id) const { return dataDir + "/applications/" + id; }
};

const DesktopFixture& fixture();

// The class and entry of the stand-in application (tests/TestWindow.cpp).
inline constexpr const char* testWindowClass = "VantrelTestWindow";
inline constexpr const char* testWindowEntry = "org.vantrel.TestWindow.desktop";
// The entry that handles folders: the session's file browser.
inline constexpr const char* fileBrowserEntry = "org.vantrel.Files.desktop";

}  // namespace vantrel::desktop::testing
