#include "Input/WindowFollower.hpp"

#include <gtest/gtest.h>

#include "FakeWindowList.hpp"
#include "Printing.hpp"

namespace vantrel {
namespace {

constexpr std::uint32_t left = 11;   // the streamed display
constexpr std::uint32_t right = 22;  // the display to its right
constexpr pid_t host = 100, editor = 200, mail = 300, files = 400;
const WindowList::FrontApplication editorInFront{editor, "org.example.Editor.desktop"};
const WindowList::FrontApplication mailInFront{mail, "org.example.Mail.desktop"};
const WindowList::FrontApplication filesInFront{files, "org.gnome.Nautilus.desktop"};
const Rect onLeft{100, 100, 800, 600};
const Rect onRight{2000, 100, 800, 600};
const std::vector<DisplayBounds> twoDisplays = {{left, {0, 0, 1920, 1080}}, {right, {1920, 0, 1920, 1080}}};

// A follower over a fake desktop of two side-by-side displays with the editor in front and a clock
// the test sets.
class WindowFollowerTest : public ::testing::Test {
protected:
    WindowFollowerTest() {
        desktop_->front = editorInFront;
        desktop_->fileBrowser = filesInFront.id;
    }

    // Sets the windows on screen, front first, and checks with the left display streamed.
    std::optional<FollowDecision> checkWith(std::vector<WindowList::Window> windows) {
        desktop_->onScreen = std::move(windows);
        return follower_.check(left);
    }

    std::shared_ptr<testing::FakeWindowList> desktop_ = std::make_shared<testing::FakeWindowList>();
    double uptime_ = 500;
    WindowFollower follower_{desktop_, [] { return twoDisplays; }, [this] { return uptime_; }, host};
};

TEST(WindowFollowerDisplay, TheDisplayShowingMostOfTheWindowWinsAndTiesGoToTheEarlierOne) {
    EXPECT_EQ(WindowFollower::display({1800, 0, 400, 300}, twoDisplays), right);
    EXPECT_EQ(WindowFollower::display({1620, 0, 400, 300}, twoDisplays), left);
    EXPECT_EQ(WindowFollower::display({1720, 0, 400, 300}, twoDisplays), left);
    EXPECT_EQ(WindowFollower::display({1720, 0, 400, 300}, {twoDisplays[1], twoDisplays[0]}), right);
    EXPECT_EQ(WindowFollower::display({1920, 1080, 400, 300}, twoDisplays), std::nullopt) << "touches a corner";
    EXPECT_EQ(WindowFollower::display({0, 0, 400, 300}, {}), std::nullopt);
}

TEST_F(WindowFollowerTest, WindowsThatExistedWhenFollowingBeganNeverCount) {
    EXPECT_EQ(checkWith({{1, editor, onRight}}), std::nullopt) << "the first check only records";
    EXPECT_EQ(checkWith({{1, editor, onRight}}), std::nullopt);
    follower_.primed = false;  // as after a display switch
    EXPECT_EQ(checkWith({{2, editor, onRight}, {1, editor, onRight}}), std::nullopt);
    EXPECT_EQ(checkWith({{2, editor, onRight}, {1, editor, onRight}}), std::nullopt);
}

TEST_F(WindowFollowerTest, OnlyANewWindowOfTheFrontApplicationOnAnotherDisplayIsFollowedAndOnce) {
    checkWith({{1, editor, onLeft}});
    EXPECT_EQ(checkWith({{2, editor, onLeft}, {1, editor, onLeft}}), std::nullopt) << "on the streamed display";
    EXPECT_EQ(checkWith({{3, mail, onRight}, {2, editor, onLeft}}), std::nullopt) << "not the front application";
    EXPECT_EQ(checkWith({{4, editor, {5000, 0, 800, 600}}, {2, editor, onLeft}}), std::nullopt) << "on no display";
    EXPECT_EQ(checkWith({{5, editor, onRight}, {2, editor, onLeft}}), (FollowDecision{right, onRight}));
    EXPECT_EQ(checkWith({{5, editor, onRight}, {2, editor, onLeft}}), std::nullopt);
}

TEST_F(WindowFollowerTest, SwitchingToAnApplicationWithoutWindowsOnTheStreamedDisplayFollowsItsFrontWindow) {
    const std::vector<WindowList::Window> desk = {
        {1, editor, onLeft}, {5, mail, {2100, 200, 700, 500}}, {6, mail, onRight}};
    checkWith(desk);
    desktop_->front = mailInFront;
    EXPECT_EQ(checkWith(desk), (FollowDecision{right, {2100, 200, 700, 500}}));
    EXPECT_EQ(checkWith(desk), std::nullopt) << "the same front application again";
    desktop_->front = editorInFront;
    EXPECT_EQ(checkWith(desk), std::nullopt) << "the editor shows on the streamed display";
    desktop_->front = mailInFront;
    EXPECT_EQ(checkWith({{1, editor, onLeft}, {5, mail, onRight}, {6, mail, onLeft}}), std::nullopt)
        << "one of its windows shows on the streamed display";
}

TEST_F(WindowFollowerTest, TheFileBrowserComingForwardRightAfterAPhoneClickIsNoReasonToFollow) {
    const std::vector<WindowList::Window> desk = {{1, editor, onLeft}, {7, files, onRight}, {9, mail, onRight}};
    const auto switchAfter = [&](const WindowList::FrontApplication& front, double secondsSinceClick) {
        desktop_->front = editorInFront;
        checkWith(desk);
        follower_.lastPhoneClick = uptime_ - secondsSinceClick;
        desktop_->front = front;
        return checkWith(desk);
    };
    EXPECT_EQ(switchAfter(filesInFront, 0.5), std::nullopt);
    EXPECT_EQ(checkWith({{8, files, onRight}, {1, editor, onLeft}}), (FollowDecision{right, onRight}))
        << "a new window of the file browser still counts";
    EXPECT_EQ(switchAfter(filesInFront, 1.0), (FollowDecision{right, onRight})) << "a second after the click";
    EXPECT_EQ(switchAfter(mailInFront, 0), (FollowDecision{right, onRight})) << "other applications right away";
    desktop_->fileBrowser.reset();
    EXPECT_EQ(switchAfter({mail, std::nullopt}, 0), (FollowDecision{right, onRight})) << "neither has an id";
}

TEST_F(WindowFollowerTest, TheHostsOwnWindowsAndActivationsNeverCount) {
    checkWith({{1, editor, onLeft}});
    desktop_->front = {host, "brisholm.desktop"};
    EXPECT_EQ(checkWith({{3, host, onRight}, {2, editor, onRight}, {1, editor, onLeft}}), std::nullopt);
    desktop_->front = editorInFront;
    EXPECT_EQ(checkWith({{4, host, onRight}, {2, editor, onRight}, {1, editor, onLeft}}), std::nullopt)
        << "the editor's window opened while the host was in front, and the editor shows here";
}

TEST_F(WindowFollowerTest, AnUnreadableWindowListDoesNotMakeEveryWindowNew) {
    checkWith({{1, editor, onRight}, {2, editor, onLeft}});
    desktop_->onScreen.reset();
    EXPECT_EQ(follower_.check(left), std::nullopt);
    EXPECT_EQ(checkWith({{1, editor, onRight}, {2, editor, onLeft}}), std::nullopt);
    EXPECT_EQ(checkWith({{3, editor, onRight}, {1, editor, onRight}}), (FollowDecision{right, onRight}));
}

}  // namespace
}  // namespace vantrel
