// From the compositor's window facts to what the follower and the running applications see: the
// order, which windows show and where, who owns them, and how they match desktop entries.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Backends/wlroots/ToplevelWindows.hpp"
#include "Platform/desktop/WindowMatching.hpp"

namespace vantrel::wayland {
namespace {

constexpr pid_t ownPid = 4242;
constexpr std::uint32_t left = 31;  // registry numbers of two outputs
constexpr std::uint32_t right = 32;
const Rect leftBounds{0, 0, 1280, 720};
const Rect rightBounds{1280, 0, 1024, 768};
const std::vector<OutputFacts> outputs = {{left, "HEADLESS-1", "", "", "", leftBounds},
                                          {right, "HEADLESS-2", "", "", "", rightBounds}};

ToplevelFacts toplevel(std::uint32_t id, std::string appId, std::vector<std::uint32_t> on,
                       std::uint64_t activatedAt = 0, bool activated = false) {
    ToplevelFacts facts;
    facts.id = id;
    facts.appId = std::move(appId);
    facts.outputs = std::move(on);
    facts.activatedAt = activatedAt;
    facts.activated = activated;
    return facts;
}

std::vector<std::uint32_t> ids(const std::vector<WindowList::Window>& windows) {
    std::vector<std::uint32_t> listed;
    for (const auto& window : windows) {
        listed.push_back(window.id);
    }
    return listed;
}

TEST(ToplevelWindowsTest, ListsShownWindowsFrontToBackOnTheOutputTheyEnteredFirst) {
    auto minimised = toplevel(6, "foot", {left}, 4);
    minimised.minimized = true;
    const std::vector<ToplevelFacts> toplevels = {
        toplevel(1, "foot", {left}, 2),                  // active before the one in front
        toplevel(2, "foot", {right, left}, 3, true),     // in front, entered the right output first
        toplevel(3, "org.example.Viewer", {left}),       // never active, older
        toplevel(4, "org.example.Viewer", {99, right}),  // never active, newer; its first output is gone
        toplevel(5, "org.example.Editor", {}, 1),        // on no output (a hidden workspace)
        minimised,
    };
    ApplicationOwners owners(ownPid, {"brisholm"});
    const auto windows = toplevelWindows(toplevels, outputs, owners);

    EXPECT_EQ(ids(windows), (std::vector<std::uint32_t>{2, 1, 4, 3}));
    EXPECT_EQ(windows[0].bounds, rightBounds);
    EXPECT_EQ(windows[1].bounds, leftBounds);
    EXPECT_EQ(windows[2].bounds, rightBounds) << "an output that went is skipped";
}

TEST(ToplevelWindowsTest, OwnersGroupWindowsByApplicationAndGiveTheHostItsOwnPid) {
    ApplicationOwners owners(ownPid, {"brisholm"});
    const auto foot = owners.ownerOf(toplevel(1, "foot", {}));
    EXPECT_EQ(owners.ownerOf(toplevel(7, "foot", {})), foot) << "one application, one owner";
    const auto viewer = owners.ownerOf(toplevel(2, "org.example.Viewer", {}));
    EXPECT_NE(viewer, foot);
    EXPECT_EQ(owners.ownerOf(toplevel(3, "brisholm", {})), ownPid);

    const auto unnamed = owners.ownerOf(toplevel(4, "", {}));
    EXPECT_NE(owners.ownerOf(toplevel(5, "", {})), unnamed) << "windows without an id are applications of their own";
    EXPECT_EQ(owners.ownerOf(toplevel(4, "", {})), unnamed);
    for (const pid_t owner : {foot, viewer, unnamed}) {
        EXPECT_GT(owner, pid_t(1) << 22) << "above every process id, so never the host's";
    }
}

TEST(ToplevelWindowsTest, WindowsMatchDesktopEntriesByApplicationId) {
    const desktop::EntryLookup entries{
        [](const std::string& id) { return id == "org.example.Viewer.desktop" || id == "foot.desktop"; },
        [](const std::string& wmClass) {
            return wmClass == "Claimed" ? std::optional<std::string>("org.example.Claimer.desktop") : std::nullopt;
        },
    };
    const auto match = [&](const std::string& appId) {
        return desktop::matchDesktopEntry(toplevelWindowFacts(toplevel(1, appId, {})), entries);
    };
    EXPECT_EQ(match("org.example.Viewer"), "org.example.Viewer.desktop");
    EXPECT_EQ(match("Claimed"), "org.example.Claimer.desktop") << "an entry's StartupWMClass claims the id";
    EXPECT_EQ(match("Foot"), "foot.desktop");
    EXPECT_EQ(match("stranger"), std::nullopt);
    EXPECT_EQ(match(""), std::nullopt);

    auto dialog = toplevel(2, "org.example.Viewer", {});
    EXPECT_TRUE(desktop::isRegularApplicationWindow(toplevelWindowFacts(dialog)));
    dialog.parent = 1;
    EXPECT_FALSE(desktop::isRegularApplicationWindow(toplevelWindowFacts(dialog)))
        << "a window with a parent is a dialog";
}

}  // namespace
}  // namespace vantrel::wayland
