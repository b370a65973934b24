// The injector against a real X server (the test session's Xvfb, two monitors side by side): what
// an application receives is what the phone asked for, on a US and on a German layout.
#include <xcb/xcb.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Input/InputInjector.hpp"
#include "Input/tests/KeyRecorder.hpp"
#include "Input/x11/X11InputDevice.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::waitUntil;

constexpr std::uint32_t leftDisplay = 1;
constexpr std::uint32_t rightDisplay = 2;
constexpr Rect leftBounds{0, 0, 1920, 1080};

class X11InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X display (scripts/test-session.sh)";
        }
        recorder = testing::KeyRecorder::open(leftBounds);
        ASSERT_TRUE(recorder);
        device = X11InputDevice::open();
        ASSERT_TRUE(device);
        injector = std::make_unique<InputInjector>(
            device,
            [](std::uint32_t id) -> std::optional<Rect> {
                return id == leftDisplay    ? std::optional(leftBounds)
                       : id == rightDisplay ? std::optional(Rect{1920, 0, 1920, 1080})
                                            : std::nullopt;
            },
            leftDisplay);
    }

    // Types text and waits until the focused window has seen all of it.
    std::string typed(const std::string& text) {
        recorder->clear();
        injector->handle(input::Text{text});
        waitUntil([&] { return recorder->text() == text; });
        return recorder->text();
    }

    std::unique_ptr<testing::KeyRecorder> recorder;
    std::shared_ptr<X11InputDevice> device;
    std::unique_ptr<InputInjector> injector;
};

TEST_F(X11InputTest, PointerMovesClicksAndScrollsLandWhereAsked) {
    EXPECT_TRUE(X11InputDevice::xtestAvailable());
    injector->handle(input::PointerMoveAbsolute{0.25, 0.5});
    EXPECT_TRUE(waitUntil([&] { return injector->pointerLocation() == Point{480, 540}; }));
    injector->handle(input::PointerMove{3000, 10});  // stops at the left display's edge
    EXPECT_TRUE(waitUntil([&] { return injector->pointerLocation() == Point{1919, 550}; }));

    injector->handle(input::Button{MouseButton::left, true});
    injector->handle(input::PointerMove{-19, 0});  // a drag
    injector->handle(input::Button{MouseButton::left, false});
    injector->handle(input::Scroll{0, -100});
    ASSERT_TRUE(waitUntil([&] { return recorder->buttons().size() == 6; }));
    const auto buttons = recorder->buttons();
    EXPECT_EQ(buttons[0].button, 1);
    EXPECT_EQ(buttons[0].at, (Point{1919, 550}));
    EXPECT_EQ(buttons[1].at, (Point{1900, 550}));
    EXPECT_EQ(buttons[2].button, 5);
    const auto motions = recorder->motions();
    ASSERT_FALSE(motions.empty());
    EXPECT_EQ(motions.back().at, (Point{1900, 550}));
    EXPECT_NE(motions.back().state & XCB_BUTTON_MASK_1, 0) << "the move while the button is held is a drag";

    injector->activeDisplay = rightDisplay;
    injector->movePointer({0, 0});
    EXPECT_TRUE(waitUntil([&] { return injector->pointerLocation() == Point{1920, 0}; }));
}

TEST_F(X11InputTest, KeysCarryExactlyTheGivenModifiers) {
    injector->handle(input::Key{0x00, true, Modifiers{Modifiers::shift, Modifiers::command}});
    injector->handle(input::Key{0x00, false, Modifiers{Modifiers::shift, Modifiers::command}});
    // The phone holds Shift, then sends a key that wants none.
    injector->handle(input::Key{0x38, true, Modifiers::shift});
    injector->handle(input::Key{0x0B, true, {}});
    injector->handle(input::Key{0x0B, false, {}});
    injector->handle(input::Key{0x38, false, {}});
    ASSERT_TRUE(waitUntil([&] { return recorder->text() == "Ab"; })) << recorder->text();
    std::vector<std::uint16_t> states;
    for (const auto& key : recorder->keys()) {
        if (key.down && !key.text.empty()) {
            states.push_back(key.state);
        }
    }
    EXPECT_THAT(states, ElementsAre(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4, 0));
}

// Every character arrives exactly: ASCII, Latin letters the layout has or lacks, AltGr levels,
// CJK and an emoji, and more distinct missing characters than the keymap has empty keys.
const std::string mixedText = "Hello, World! Gr\u00FC\u00DFe \u20AC \u00F1 @{} \u65E5\u672C\u8A9E \U0001F600";
const std::string manyMissing =
    "\u4E00\u4E01\u4E02\u4E03\u4E04\u4E05\u4E06\u4E07\u4E08\u4E09\u4E0A\u4E0B\u4E0C\u4E0D\u4E0E\u4E0F"
    "\u4E10\u4E11\u4E12\u4E13\u4E14\u4E15\u4E16\u4E17\u4E18\u4E19\u4E1A\u4E1B\u4E1C\u4E1D\u4E1E\u4E1F";

TEST_F(X11InputTest, TextArrivesExactlyOnAUsLayout) {
    const testing::LayoutGuard layout("us");
    ASSERT_TRUE(layout.ok());
    EXPECT_EQ(typed(mixedText), mixedText);
    EXPECT_EQ(typed(manyMissing), manyMissing);
}

TEST_F(X11InputTest, TextAndKeyPlacesFollowAGermanLayout) {
    const auto emptyBefore = recorder->emptyKeys();
    {
        const testing::LayoutGuard layout("de");
        ASSERT_TRUE(layout.ok());
        EXPECT_EQ(typed(mixedText), mixedText);
        EXPECT_EQ(typed(manyMissing), manyMissing);
        // The phone's "Z" place types what the desktop's layout puts there.
        recorder->clear();
        injector->handle(input::Key{0x06, true, {}});
        injector->handle(input::Key{0x06, false, {}});
        EXPECT_TRUE(waitUntil([&] { return recorder->text() == "y"; })) << recorder->text();
        injector->releaseAll();
    }
    // Back on the US layout, typing reads the new keymap.
    EXPECT_EQ(typed("z\u00F1"), "z\u00F1");
    injector->releaseAll();
    EXPECT_EQ(recorder->emptyKeys(), emptyBefore);
}

TEST_F(X11InputTest, NothingStaysPressedAfterReleaseAll) {
    const auto emptyBefore = recorder->emptyKeys();
    injector->handle(input::Key{0x37, true, Modifiers::command});
    injector->handle(input::Key{0x38, true, Modifiers{Modifiers::command, Modifiers::shift}});
    injector->handle(input::Key{0x00, true, Modifiers{Modifiers::command, Modifiers::shift}});
    injector->handle(input::Button{MouseButton::left, true});
    injector->handle(input::Button{MouseButton::right, true});
    ASSERT_TRUE(waitUntil([&] { return recorder->text() == "A"; }));
    typed("\u00F1\u00E7");  // borrows two empty keys
    EXPECT_NE(recorder->emptyKeys(), emptyBefore);
    EXPECT_TRUE(waitUntil([&] { return recorder->buttonsHeld() != 0; }));

    injector->releaseAll();
    EXPECT_THAT(recorder->keysHeld(), IsEmpty());
    EXPECT_EQ(recorder->buttonsHeld(), 0);
    EXPECT_EQ(recorder->emptyKeys(), emptyBefore);
}

}  // namespace
}  // namespace vantrel
