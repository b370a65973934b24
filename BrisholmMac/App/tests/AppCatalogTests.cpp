#include "App/AppCatalog.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace vantrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A workspace of installed applications (id -> location), pinned ids and running applications.
// Icons are a few bytes derived from the location, or absent for locations listed as failing.
class FakeWorkspace final : public Workspace {
public:
    std::vector<std::string> pinned;
    std::vector<RunningApplication> running;
    std::map<std::string, std::string> installed;  // id -> location
    std::map<std::string, std::string> names;      // location -> display name
    std::vector<std::string> failingIcons;
    std::map<std::string, int> iconRequests;  // location -> count
    std::vector<std::string> opened;

    void install(const std::string& id, const std::string& name) {
        installed[id] = "/apps/" + id;
        names["/apps/" + id] = name;
    }

    std::vector<std::string> pinnedIds() override { return pinned; }
    std::vector<RunningApplication> runningApplications() override { return running; }
    std::optional<std::string> locate(const std::string& id) override {
        const auto found = installed.find(id);
        return found == installed.end() ? std::nullopt : std::optional(found->second);
    }
    std::string displayName(const std::string& location) override { return names[location]; }
    std::optional<Bytes> iconPNG(const std::string& location) override {
        ++iconRequests[location];
        if (std::find(failingIcons.begin(), failingIcons.end(), location) != failingIcons.end()) {
            return std::nullopt;
        }
        return Bytes(location.begin(), location.end());
    }
    void openOrActivate(const std::string& location) override { opened.push_back(location); }
};

RunningApplication runningApp(const std::string& id, std::optional<std::string> name = std::nullopt) {
    return RunningApplication{id, "/apps/" + id, std::move(name)};
}

struct Summary {
    std::string id;
    std::string name;
    bool running;
    bool operator==(const Summary&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Summary& s) {
        return out << "{" << s.id << ", " << s.name << ", " << (s.running ? "running" : "not running") << "}";
    }
};

std::vector<Summary> summarise(const AppList& list) {
    std::vector<Summary> result;
    for (const auto& entry : list.apps) {
        result.push_back({entry.id, entry.name, entry.running});
    }
    return result;
}

class AppCatalogTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    AppCatalog catalog{workspace};
};

TEST_F(AppCatalogTest, PinnedApplicationsComeFirstThenOtherRunningOnesEachOnce) {
    workspace->install("mail.desktop", "Mail");
    workspace->install("files.desktop", "Files");
    workspace->install("term.desktop", "Terminal");
    workspace->install("editor.desktop", "Editor");
    workspace->pinned = {"mail.desktop", "files.desktop", "mail.desktop", "gone.desktop"};
    workspace->running = {runningApp("term.desktop", "Terminal"), runningApp("mail.desktop", "Mail (running)"),
                          runningApp("editor.desktop", "Editor"), runningApp("term.desktop", "Terminal again")};

    EXPECT_THAT(summarise(catalog.current()),
                ElementsAre(Summary{"mail.desktop", "Mail", true}, Summary{"files.desktop", "Files", false},
                            Summary{"term.desktop", "Terminal", true}, Summary{"editor.desktop", "Editor", true}));
}

TEST_F(AppCatalogTest, WithNothingPinnedListsTheLocatableRunningApplications) {
    workspace->install("a.desktop", "A");
    workspace->running = {runningApp("a.desktop", "A"), RunningApplication{"nowhere.desktop", std::nullopt, "Nowhere"}};

    EXPECT_THAT(summarise(catalog.current()), ElementsAre(Summary{"a.desktop", "A", true}));
}

TEST_F(AppCatalogTest, NeverListsTheHostItself) {
    const std::string own(hostDesktopId);
    workspace->install(own, "Brisholm");
    workspace->install("a.desktop", "A");
    workspace->pinned = {own, "a.desktop"};
    workspace->running = {runningApp(own, "Brisholm")};

    EXPECT_THAT(summarise(catalog.current()), ElementsAre(Summary{"a.desktop", "A", false}));
}

struct NameCase {
    const char* name;
    std::string displayName;
    std::optional<std::string> localizedName;
    std::string expectedPinned;
    std::string expectedRunning;
};

class AppCatalogNames : public AppCatalogTest, public ::testing::WithParamInterface<NameCase> {};

// Pinned entries are named after their location's display name, running ones after their own
// name when they report one; display names lose every ".app", localized names are taken as they are.
TEST_P(AppCatalogNames, NamesPinnedAndRunningApplications) {
    const auto& param = GetParam();
    workspace->install("pinned.desktop", param.displayName);
    workspace->install("running.desktop", param.displayName);
    workspace->pinned = {"pinned.desktop"};
    workspace->running = {runningApp("running.desktop", param.localizedName)};

    const auto list = catalog.current();
    ASSERT_EQ(list.apps.size(), 2u);
    EXPECT_EQ(list.apps[0].name, param.expectedPinned);
    EXPECT_EQ(list.apps[1].name, param.expectedRunning);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AppCatalogNames,
    ::testing::Values(NameCase{"trailingSuffix", "Safari.app", std::nullopt, "Safari", "Safari"},
                      NameCase{"everySuffix", "My.app Tool.app", std::nullopt, "My Tool", "My Tool"},
                      NameCase{"noSuffix", "Calculator", std::nullopt, "Calculator", "Calculator"},
                      NameCase{"localizedKept", "Other.app", "Local.app Name", "Other", "Local.app Name"},
                      NameCase{"emptyLocalized", "Fallback.app", "", "Fallback", "Fallback"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppCatalogTest, CutsAtFortyAndOnlyOffersWhatWasListed) {
    std::vector<std::string> runningIds;
    for (int i = 0; i < 30; ++i) {
        const auto id = "dock" + std::to_string(i) + ".desktop";
        workspace->install(id, "Dock " + std::to_string(i));
        workspace->pinned.push_back(id);
    }
    for (int i = 0; i < 20; ++i) {
        const auto id = "run" + std::to_string(i) + ".desktop";
        workspace->install(id, "Run " + std::to_string(i));
        workspace->running.push_back(runningApp(id, "Run " + std::to_string(i)));
        runningIds.push_back(id);
    }

    const auto list = catalog.current();
    ASSERT_EQ(list.apps.size(), AppList::maxCount);
    EXPECT_EQ(list.apps[0].id, "dock0.desktop");
    EXPECT_EQ(list.apps[29].id, "dock29.desktop");
    EXPECT_EQ(list.apps[30].id, "run0.desktop");
    EXPECT_EQ(list.apps[39].id, "run9.desktop");
    // Entries past the cut are still resolved, so their icons are drawn once like all others.
    EXPECT_EQ(workspace->iconRequests.size(), 50u);

    for (int i = 10; i < 20; ++i) {
        catalog.open(runningIds[static_cast<std::size_t>(i)], list);
    }
    EXPECT_THAT(workspace->opened, IsEmpty());
    catalog.open("run9.desktop", list);
    catalog.open("dock0.desktop", list);
    EXPECT_THAT(workspace->opened, ElementsAre("/apps/run9.desktop", "/apps/dock0.desktop"));
}

TEST_F(AppCatalogTest, OpenIgnoresRequestsOutsideTheOfferedList) {
    workspace->install("a.desktop", "A");
    workspace->installed["uninstalled.desktop"] = "/apps/uninstalled.desktop";
    workspace->pinned = {"a.desktop", "uninstalled.desktop"};
    const auto list = catalog.current();
    workspace->installed.erase("uninstalled.desktop");

    catalog.open("a.desktop", std::nullopt);                      // nothing offered yet
    catalog.open("invented.desktop", list);                       // never offered
    catalog.open("A.desktop", list);                              // identifiers compare exactly
    catalog.open("uninstalled.desktop", list);                    // offered, then removed
    catalog.open("a.desktop", AppList(std::vector<AppEntry>{}));  // an empty offer allows nothing
    EXPECT_THAT(workspace->opened, IsEmpty());

    catalog.open("a.desktop", list);
    EXPECT_THAT(workspace->opened, ElementsAre("/apps/a.desktop"));
}

TEST_F(AppCatalogTest, IconsAreCachedByIdentifierAndFailuresRetried) {
    workspace->install("good.desktop", "Good");
    workspace->install("bad.desktop", "Bad");
    workspace->pinned = {"good.desktop", "bad.desktop"};
    workspace->failingIcons = {"/apps/bad.desktop"};

    const auto first = catalog.current();
    ASSERT_EQ(first.apps.size(), 2u);
    ASSERT_TRUE(first.apps[0].icon.has_value());
    EXPECT_FALSE(first.apps[1].icon.has_value());  // still offered, without an icon

    // The icon source changes, but the cache keeps the first bytes; the failed one is retried.
    workspace->failingIcons.clear();
    workspace->installed["good.desktop"] = "/apps/moved/good.desktop";
    const auto second = catalog.current();
    EXPECT_EQ(second.apps[0].icon, first.apps[0].icon);
    EXPECT_TRUE(second.apps[1].icon.has_value());
    EXPECT_EQ(workspace->iconRequests["/apps/good.desktop"], 1);
    EXPECT_EQ(workspace->iconRequests["/apps/moved/good.desktop"], 0);
    EXPECT_EQ(workspace->iconRequests["/apps/bad.desktop"], 2);

    EXPECT_EQ(catalog.current(), second);
    EXPECT_EQ(workspace->iconRequests["/apps/bad.desktop"], 2);
}

}  // namespace
}  // namespace vantrel
