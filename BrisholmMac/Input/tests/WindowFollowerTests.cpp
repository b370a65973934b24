#include "Input/WindowFollower.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "Platform/FakeWindowList.hpp"
#include "Printing.hpp"

namespace vantrel {
namespace {

constexpr std::uint32_t left = 11;   // the streamed display
constexpr std::uint32_t right = 22;  // the display to its right
constexpr pid_t host = 100;
constexpr pid_t editor = 200;
constexpr pid_t mail = 300;
constexpr pid_t files = 400;
const std::string fileBrowser = "org.gnome.Nautilus.desktop";

const Rect onLeft{100, 100, 800, 600};
const Rect onRight{2000, 100, 800, 600};

// A follower over a fake desktop of two side-by-side 1920x1080 displays, with a clock the test
// sets; the front application is the editor unless a test says otherwise.
class WindowFollowerTest : public ::testing::Test {
protected:
    WindowFollowerTest() {
        desktop->front = {editor, "org.example.Editor.desktop"};
        desktop->fileBrowser = fileBrowser;
    }

    // Sets the windows on screen, front first, and checks with the left display streamed.
    std::optional<FollowDecision> checkWith(std::vector<WindowList::Window> windows) {
        desktop->onScreen = std::move(windows);
        return follower.check(left);
    }

    std::shared_ptr<testing::FakeWindowList> desktop = std::make_shared<testing::FakeWindowList>();
    std::vector<DisplayBounds> displays = {{left, {0, 0, 1920, 1080}}, {right, {1920, 0, 1920, 1080}}};
    double uptime = 500;
    WindowFollower follower{desktop, [this] { return displays; }, [this] { return uptime; }, host};
};

TEST(WindowFollowerDisplay, TheDisplayShowingMostOfTheWindowWinsAndTiesGoToTheEarlierOne) {
    const std::vector<DisplayBounds> displays = {{left, {0, 0, 1920, 1080}}, {right, {1920, 0, 1920, 1080}}};
    const std::vector<DisplayBounds> reversed = {displays[1], displays[0]};
    EXPECT_EQ(WindowFollower::display({1800, 0, 400, 300}, displays), right);
    EXPECT_EQ(WindowFollower::display({1620, 0, 400, 300}, displays), left);
    EXPECT_EQ(WindowFollower::display({1720, 0, 400, 300}, displays), left);
    EXPECT_EQ(WindowFollower::display({1720, 0, 400, 300}, reversed), right);
    EXPECT_EQ(WindowFollower::display({1920, 1080, 400, 300}, displays), std::nullopt) << "touches a corner only";
    EXPECT_EQ(WindowFollower::display({5000, 0, 400, 300}, displays), std::nullopt);
    EXPECT_EQ(WindowFollower::display({0, 0, 400, 300}, {}), std::nullopt);
}

TEST_F(WindowFollowerTest, WindowsThatExistedWhenFollowingBeganNeverCount) {
    EXPECT_EQ(checkWith({{1, editor, onRight}}), std::nullopt) << "the first check only records";
    EXPECT_EQ(checkWith({{1, editor, onRight}}), std::nullopt);

    follower.primed = false;  // as after a display switch
    EXPECT_EQ(checkWith({{2, editor, onRight}, {1, editor, onRight}}), std::nullopt);
    EXPECT_EQ(checkWith({{2, editor, onRight}, {1, editor, onRight}}), std::nullopt);
}

TEST_F(WindowFollowerTest, ANewWindowOfTheFrontApplicationOnAnotherDisplayIsFollowedOnce) {
    checkWith({{1, editor, onLeft}, {5, mail, onLeft}});
    EXPECT_EQ(checkWith({{2, editor, onRight}, {1, editor, onLeft}, {5, mail, onLeft}}),
              (FollowDecision{right, onRight}));
    EXPECT_EQ(checkWith({{2, editor, onRight}, {1, editor, onLeft}, {5, mail, onLeft}}), std::nullopt);
}

TEST_F(WindowFollowerTest, NewWindowsOnTheStreamedDisplayOrOfBackgroundApplicationsStay) {
    checkWith({{1, editor, onLeft}});
    EXPECT_EQ(checkWith({{2, editor, onLeft}, {1, editor, onLeft}}), std::nullopt);
    EXPECT_EQ(checkWith({{2, editor, onLeft}, {1, editor, onLeft}, {6, mail, onRight}}), std::nullopt);
    EXPECT_EQ(checkWith({{3, editor, {5000, 0, 800, 600}}, {2, editor, onLeft}}), std::nullopt) << "on no display";
}

TEST_F(WindowFollowerTest, ANewWindowAcrossTwoDisplaysGoesWhereMostOfItIs) {
    checkWith({});
    EXPECT_EQ(checkWith({{1, editor, {1800, 0, 400, 300}}}), (FollowDecision{right, {1800, 0, 400, 300}}));
    EXPECT_EQ(checkWith({{2, editor, {1720, 0, 400, 300}}, {1, editor, {1800, 0, 400, 300}}}), std::nullopt)
        << "equal parts stay on the display listed first";
}

TEST_F(WindowFollowerTest, SwitchingToAnApplicationWithoutWindowsOnTheStreamedDisplayFollowsItsFrontWindow) {
    const std::vector<WindowList::Window> desk = {
        {1, editor, onLeft}, {5, mail, {2100, 200, 700, 500}}, {6, mail, onRight}};
    checkWith(desk);
    desktop->front = {mail, "org.example.Mail.desktop"};
    EXPECT_EQ(checkWith(desk), (FollowDecision{right, {2100, 200, 700, 500}}));
    EXPECT_EQ(checkWith(desk), std::nullopt) << "the same front application again";

    desktop->front = {editor, "org.example.Editor.desktop"};
    EXPECT_EQ(checkWith(desk), std::nullopt) << "the editor shows on the streamed display";
    desktop->front = {mail, "org.example.Mail.desktop"};
    EXPECT_EQ(checkWith({{1, editor, onLeft}, {5, mail, onRight}, {6, mail, onLeft}}), std::nullopt)
        << "one of its windows shows on the streamed display";
}

TEST_F(WindowFollowerTest, TheFileBrowserComingForwardRightAfterAPhoneClickIsNoReasonToFollow) {
    const std::vector<WindowList::Window> desk = {{1, editor, onLeft}, {7, files, onRight}};
    checkWith(desk);
    follower.lastPhoneClick = uptime - 0.5;
    desktop->front = {files, fileBrowser};
    EXPECT_EQ(checkWith(desk), std::nullopt);
    EXPECT_EQ(checkWith({{8, files, onRight}, {1, editor, onLeft}, {7, files, onRight}}),
              (FollowDecision{right, onRight}))
        << "a new window of the file browser still counts";

    desktop->front = {editor, "org.example.Editor.desktop"};
    checkWith(desk);
    follower.lastPhoneClick = uptime - 1.0;
    desktop->front = {files, fileBrowser};
    EXPECT_EQ(checkWith(desk), (FollowDecision{right, onRight})) << "a second after the click";

    desktop->front = {editor, "org.example.Editor.desktop"};
    checkWith(desk);
    follower.lastPhoneClick = uptime;
    desktop->front = {mail, "org.example.Mail.desktop"};
    EXPECT_EQ(checkWith({{1, editor, onLeft}, {9, mail, onRight}}), (FollowDecision{right, onRight}))
        << "other applications are followed right after a click";
}

TEST_F(WindowFollowerTest, TheHostsOwnWindowsAndActivationsNeverCount) {
    checkWith({{1, editor, onLeft}});
    desktop->front = {host, "brisholm.desktop"};
    EXPECT_EQ(checkWith({{3, host, onRight}, {2, editor, onRight}, {1, editor, onLeft}}), std::nullopt);

    desktop->front = {editor, "org.example.Editor.desktop"};
    EXPECT_EQ(checkWith({{4, host, onRight}, {2, editor, onRight}, {1, editor, onLeft}}), std::nullopt)
        << "the editor's window opened while the host was in front, and the editor shows here";
}

TEST_F(WindowFollowerTest, NoFrontApplicationFollowsNothing) {
    checkWith({{1, editor, onLeft}});
    desktop->front = {};
    EXPECT_EQ(checkWith({{2, editor, onRight}, {1, editor, onLeft}}), std::nullopt);
}

TEST_F(WindowFollowerTest, AnUnreadableWindowListDoesNotMakeEveryWindowNew) {
    checkWith({{1, editor, onRight}, {2, editor, onLeft}});
    desktop->onScreen.reset();
    EXPECT_EQ(follower.check(left), std::nullopt);
    EXPECT_FALSE(follower.primed);
    EXPECT_EQ(checkWith({{1, editor, onRight}, {2, editor, onLeft}}), std::nullopt);
    EXPECT_EQ(checkWith({{3, editor, onRight}, {1, editor, onRight}, {2, editor, onLeft}}),
              (FollowDecision{right, onRight}));
}

}  // namespace
}  // namespace vantrel
