#include <gtest/gtest.h>

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "DesktopFixture.hpp"
#include "Platform/desktop/DesktopWorkspace.hpp"
#include "Platform/desktop/GnomeFavourites.hpp"

namespace vantrel::desktop {
namespace {

using testing::fixture;

QImage decode(const Bytes& png) {
    QImage image;
    image.loadFromData(QByteArray(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size())),
                       "PNG");
    return image;
}

class DesktopWorkspaceTest : public ::testing::Test {
protected:
    DesktopWorkspace workspace{IconRenderer::createQt(), nullptr};
};

struct LocateCase {
    const char* name;
    std::string id;
    bool installed;
    std::string displayName;
};

class Locating : public DesktopWorkspaceTest, public ::testing::WithParamInterface<LocateCase> {};

TEST_P(Locating, FindsInstalledEntriesAndTheirNames) {
    const auto& param = GetParam();
    const auto location = workspace.locate(param.id);
    ASSERT_EQ(location.has_value(), param.installed);
    if (location) {
        EXPECT_EQ(*location, fixture().entry(param.id));
        EXPECT_EQ(workspace.displayName(*location), param.displayName);
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, Locating,
                         ::testing::Values(LocateCase{"plain", "org.vantrel.Png.desktop", true, "Png Viewer"},
                                           LocateCase{"keptOutOfMenus", "org.vantrel.NoDisplay.desktop", true,
                                                      "Menu Hidden"},
                                           LocateCase{"hiddenMeansDeleted", "org.vantrel.Hidden.desktop", false, ""},
                                           LocateCase{"tryExecMissing", "org.vantrel.Uninstalled.desktop", false, ""},
                                           LocateCase{"unknown", "org.vantrel.Nothing.desktop", false, ""},
                                           LocateCase{"withoutSuffix", "org.vantrel.Png", false, ""},
                                           LocateCase{"pathLike", "../applications/org.vantrel.Png.desktop", false, ""},
                                           LocateCase{"empty", "", false, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DesktopWorkspaceTest, NamesAVanishedEntryAfterItsFile) {
    EXPECT_EQ(workspace.displayName(fixture().root + "/gone/org.example.Gone.desktop"), "org.example.Gone");
}

struct IconCase {
    const char* name;
    std::string id;
    QColor centre;
    QColor nearTopEdge;  // (48, 4)
};

class Icons : public DesktopWorkspaceTest, public ::testing::WithParamInterface<IconCase> {};

// Every icon comes out as a 96-pixel RGBA PNG, whatever its source: a 16-pixel PNG in the theme
// (scaled up), a scalable SVG, or a 64x32 file named by path (scaled up, centred, transparent above).
TEST_P(Icons, DrawsThemedAndFileIconsAt96Pixels) {
    const auto& param = GetParam();
    const auto location = workspace.locate(param.id);
    ASSERT_TRUE(location);
    const auto png = workspace.iconPNG(*location);
    ASSERT_TRUE(png);
    ASSERT_GE(png->size(), 8u);
    EXPECT_EQ(std::string(png->begin() + 1, png->begin() + 4), "PNG");
    const QImage image = decode(*png);
    ASSERT_EQ(image.size(), QSize(96, 96));
    EXPECT_TRUE(image.hasAlphaChannel());
    EXPECT_EQ(image.pixelColor(48, 48), param.centre);
    EXPECT_EQ(image.pixelColor(48, 4), param.nearTopEdge);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, Icons,
    ::testing::Values(IconCase{"smallThemedPng", "org.vantrel.Png.desktop", QColor(255, 0, 0), QColor(255, 0, 0)},
                      IconCase{"scalableSvg", "org.vantrel.Svg.desktop", QColor(0, 0, 255), QColor(0, 0, 255)},
                      IconCase{"wideFile", "org.vantrel.FileIcon.desktop", QColor(0, 255, 0), QColor(0, 0, 0, 0)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DesktopWorkspaceTest, EntryWithoutIconGetsTheGenericApplicationIcon) {
    const auto png = workspace.iconPNG(fixture().entry("org.vantrel.NoIcon.desktop"));
    ASSERT_TRUE(png);
    EXPECT_EQ(decode(*png).size(), QSize(96, 96));
}

TEST_F(DesktopWorkspaceTest, ReadsFavouritesOnlyWhereTheSchemaExists) {
    EXPECT_EQ(gnomeFavourites(fixture().schemaDir),
              (std::vector<std::string>{"org.vantrel.Svg.desktop", "gone.desktop", "org.vantrel.Png.desktop"}));
    EXPECT_TRUE(gnomeFavourites(fixture().root + "/no-such-directory").empty());
    // The system's schemas are out of reach of this test's XDG data directory: GIO would abort
    // the process if the schema were not looked up first.
    EXPECT_TRUE(workspace.pinnedIds().empty());
}

// The session's windows as a desktop backend would list them, and what the workspace asked of it.
class ListedWindows final : public RunningWindows {
public:
    explicit ListedWindows(std::vector<WindowFacts> windows) : windows_(std::move(windows)) {}

    std::vector<WindowFacts> clientWindows() override { return windows_; }
    bool activateFrontmost(const std::unordered_set<std::uint32_t>& windows) override {
        activated.push_back(windows);
        return true;
    }

    std::vector<std::unordered_set<std::uint32_t>> activated;

private:
    std::vector<WindowFacts> windows_;
};

WindowFacts window(std::uint32_t id, const char* wmClass, WindowFacts::Type type = WindowFacts::Type::normal) {
    WindowFacts facts;
    facts.window = id;
    facts.type = type;
    facts.wmClass = wmClass;
    facts.wmInstance = wmClass;
    return facts;
}

TEST_F(DesktopWorkspaceTest, RunningApplicationsComeFromTheSessionsWindowsAndOpenBringsTheirsForward) {
    EXPECT_TRUE(workspace.runningApplications().empty()) << "without the session's windows nothing runs";

    const auto windows = std::make_shared<ListedWindows>(std::vector<WindowFacts>{
        window(1, "Vantrel-Claimed"), window(2, "Stranger"),         // no entry: not listed
        window(3, "vantrel-byclass", WindowFacts::Type::other),      // not a regular window
        window(4, "vantrel-byclass"), window(5, "Vantrel-Claimed"),  // listed once
    });
    DesktopWorkspace session(IconRenderer::createQt(), windows);
    EXPECT_EQ(session.runningApplications(),
              (std::vector<RunningApplication>{
                  {"org.vantrel.Claimer.desktop", fixture().entry("org.vantrel.Claimer.desktop"), "Claimer"},
                  {"vantrel-byclass.desktop", fixture().entry("vantrel-byclass.desktop"), "By Class"},
              }));

    session.openOrActivate(fixture().entry("org.vantrel.Claimer.desktop"));
    EXPECT_EQ(windows->activated, (std::vector<std::unordered_set<std::uint32_t>>{{1, 5}}))
        << "every window of the application is a candidate; the session knows which is in front";
}

}  // namespace
}  // namespace vantrel::desktop
