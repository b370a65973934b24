#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vantrel/Bytes.hpp"

namespace vantrel {

// One running application with ordinary windows, as the workspace reports it. Applications whose
// windows match no installed application are not reported at all.
struct RunningApplication {
    std::string id;                            // application identifier (a desktop-entry id on Linux)
    std::optional<std::string> location;       // where the application is installed, when known
    std::optional<std::string> localizedName;  // its name in the user's language, when known

    bool operator==(const RunningApplication&) const = default;
};

// The computer's installed and running applications: what the application catalog offers the
// phone and how it opens one. Identifiers are the platform's application identifiers (desktop-entry
// ids such as "org.gnome.Calculator.desktop" on Linux); a location is where the platform keeps the
// application (the desktop entry's file). Failures come back as empty lists or absent values.
//
// Lives on the main thread: the Linux icons are drawn with the GUI toolkit, which allows that
// thread only.
class Workspace {
public:
    // The side length, in pixels, of the square icons iconPNG returns.
    static constexpr int iconSize = 96;

    virtual ~Workspace() = default;

    // The applications the user keeps pinned in the desktop's dock or favourites, in that order;
    // may hold duplicates and identifiers of applications no longer installed.
    [[nodiscard]] virtual std::vector<std::string> pinnedIds() = 0;

    // The running applications that own ordinary top-level windows, in the order the platform
    // lists them, each once.
    [[nodiscard]] virtual std::vector<RunningApplication> runningApplications() = 0;

    // The location of the installed application id; absent when it is not installed.
    [[nodiscard]] virtual std::optional<std::string> locate(const std::string& id) = 0;

    // The name the desktop shows for the application at location.
    [[nodiscard]] virtual std::string displayName(const std::string& location) = 0;

    // The application's icon at location, drawn at iconSize x iconSize with 8-bit RGBA samples and
    // encoded as PNG; absent when it cannot be drawn or encoded.
    [[nodiscard]] virtual std::optional<Bytes> iconPNG(const std::string& location) = 0;

    // Brings the application at location to the front when it runs, else launches it. The
    // outcome is not reported.
    virtual void openOrActivate(const std::string& location) = 0;
};

}  // namespace vantrel
