#include "Input/InputInjector.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Input/TypedText.hpp"
#include "Input/tests/FakeInputDevice.hpp"

namespace vantrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint32_t leftDisplay = 1;
constexpr std::uint32_t rightDisplay = 2;

// Two displays side by side, as the test session lays them out.
class InjectorTest : public ::testing::Test {
protected:
    std::shared_ptr<testing::FakeInputDevice> device = std::make_shared<testing::FakeInputDevice>();
    double now = 100;
    InputInjector injector{device,
                           [](std::uint32_t id) -> std::optional<Rect> {
                               if (id == leftDisplay) {
                                   return Rect{0, 0, 1920, 1080};
                               }
                               if (id == rightDisplay) {
                                   return Rect{1920, 0, 1920, 1080};
                               }
                               return std::nullopt;
                           },
                           leftDisplay, [this] { return now; }};

    void key(std::uint16_t code, bool down, Modifiers modifiers = {}) {
        injector.handle(input::Key{code, down, modifiers});
    }
    void button(MouseButton which, bool down) { injector.handle(input::Button{which, down}); }
};

// Pointer

TEST_F(InjectorTest, AbsolutePositionsAreClampedToTheActiveDisplay) {
    injector.handle(input::PointerMoveAbsolute{1, 1});
    injector.handle(input::PointerMoveAbsolute{-0.5, 2});
    injector.activeDisplay = rightDisplay;
    injector.handle(input::PointerMoveAbsolute{0.5, 0});
    injector.activeDisplay = 99;  // unknown: nowhere to put the pointer
    injector.handle(input::PointerMoveAbsolute{0.5, 0.5});
    EXPECT_THAT(device->take(), ElementsAre("move 1919,1079", "move 0,1079", "move 2880,0"));
}

TEST_F(InjectorTest, RelativeMovesStopAtTheActiveDisplaysEdgeFromAnywhere) {
    device->pointer = {2500, 500};  // on the right display while the phone watches the left
    injector.handle(input::PointerMove{100, -600});
    injector.handle(input::PointerMove{-5000, 0.5});
    device->pointerReadable = false;  // an unreadable pointer counts as the origin
    injector.handle(input::PointerMove{3, 4});
    EXPECT_THAT(device->take(), ElementsAre("move 1919,0", "move 0,0.5", "move 3,4"));
}

TEST_F(InjectorTest, NumbersNoDisplayHasAreDropped) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    injector.handle(input::PointerMove{nan, 1});
    injector.handle(input::PointerMoveAbsolute{0.5, nan});
    injector.handle(input::Scroll{0, infinity});
    injector.movePointer({infinity, 0});
    EXPECT_THAT(device->take(), IsEmpty());

    // A scroll of absurd size is a bounded burst of clicks and leaves no remainder behind.
    injector.handle(input::Scroll{0, 1e300});
    EXPECT_EQ(device->take().size(), 2U * InputInjector::maxWheelClicksPerEvent);
    injector.handle(input::Scroll{0, 49});
    EXPECT_THAT(device->take(), IsEmpty());
}

// Buttons

TEST_F(InjectorTest, PressesAnnounceTheClickAndReleasesOnlyWhatIsHeld) {
    injector.onClick = [this] { device->log.push_back("click"); };
    button(MouseButton::right, false);  // never pressed: nothing
    button(MouseButton::left, true);
    injector.handle(input::PointerMove{10, 0});  // a drag: X sees the move with the button held
    button(MouseButton::middle, true);
    button(MouseButton::left, false);
    button(MouseButton::left, false);
    EXPECT_THAT(device->take(),
                ElementsAre("click", "button 1 down", "move 10,0", "click", "button 2 down", "button 1 up"));
    injector.releaseAll();
    EXPECT_THAT(device->take(), ElementsAre("button 2 up"));
}

TEST_F(InjectorTest, ClickSeriesCountsUpToThreeWithinTimeAndPlace) {
    const auto click = [this](double at, Point where = {}) {
        now = at;
        device->pointer = where;
        button(MouseButton::left, true);
        button(MouseButton::left, false);
        return injector.clickCount();
    };
    EXPECT_EQ(click(100.0), 1);
    EXPECT_EQ(click(100.1), 2);
    EXPECT_EQ(click(100.2), 3);
    EXPECT_EQ(click(100.3), 3);
    EXPECT_EQ(click(100.8), 1);  // 0.5 s later
    EXPECT_EQ(click(100.9, {3.9, 3.9}), 2);
    EXPECT_EQ(click(101.0, {8.9, 3.9}), 1);  // 5 points away
    // The time is kept per button, the place and count are shared.
    EXPECT_EQ(click(101.1, {8.9, 3.9}), 2);
    now = 101.2;
    button(MouseButton::right, true);
    EXPECT_EQ(injector.clickCount(), 1);
}

// Scrolling

TEST_F(InjectorTest, ScrollingBecomesWheelClicksAndCarriesTheRest) {
    injector.handle(input::Scroll{0, 20});
    injector.handle(input::Scroll{0, 20});
    EXPECT_THAT(device->take(), IsEmpty());
    injector.handle(input::Scroll{0, 20});  // 60: one click up, 10 carried
    EXPECT_THAT(device->take(), ElementsAre("button 4 down", "button 4 up"));
    injector.handle(input::Scroll{0, -135});  // -125: two clicks down, -25 carried
    EXPECT_THAT(device->take(), ElementsAre("button 5 down", "button 5 up", "button 5 down", "button 5 up"));
    injector.handle(input::Scroll{0, -25});
    EXPECT_THAT(device->take(), ElementsAre("button 5 down", "button 5 up"));
    injector.handle(input::Scroll{60, -60});
    EXPECT_THAT(device->take(), ElementsAre("button 5 down", "button 5 up", "button 6 down", "button 6 up"));
    injector.handle(input::Scroll{-90, 0});  // -80 with the 10 carried
    EXPECT_THAT(device->take(), ElementsAre("button 7 down", "button 7 up"));
}

// Keys

TEST_F(InjectorTest, KeysCarryExactlyTheGivenModifiers) {
    key(0x00, true, Modifiers{Modifiers::command, Modifiers::shift});
    EXPECT_THAT(device->take(), ElementsAre("key 50 down", "key 133 down", "key 38 down", "key 133 up", "key 50 up"));
    key(0x00, false, Modifiers{Modifiers::command, Modifiers::shift});
    EXPECT_THAT(device->take(), ElementsAre("key 50 down", "key 133 down", "key 38 up", "key 133 up", "key 50 up"));

    // The unnamed bits mean nothing; option is Alt, control is Control.
    key(0x06, true, Modifiers(std::uint8_t{0xF0 | 0x04 | 0x02}));
    EXPECT_THAT(device->take(), ElementsAre("key 37 down", "key 64 down", "key 52 down", "key 64 up", "key 37 up"));
}

TEST_F(InjectorTest, HeldModifierKeysAreLetGoAroundKeysThatDoNotWantThem) {
    key(0x38, true, Modifiers::shift);  // the phone holds Shift
    key(0x00, true, Modifiers::shift);  // wanted and held: nothing around it
    key(0x00, false);                   // not wanted: let go around the key, then held again
    EXPECT_THAT(device->take(), ElementsAre("key 50 down", "key 38 down", "key 50 up", "key 38 up", "key 50 down"));
    key(0x38, false);
    key(0x38, false);  // no longer held: nothing
    EXPECT_THAT(device->take(), ElementsAre("key 50 up"));
}

TEST_F(InjectorTest, KeysWithoutAPlaceOrNotHeldSendNothing) {
    key(0x3F, true);   // Function: no key on this keyboard
    key(0x7E, true);   // Up arrow: this keyboard (the fake) lacks it
    key(0x00, false);  // never pressed
    EXPECT_THAT(device->take(), IsEmpty());
}

TEST_F(InjectorTest, ReleaseAllLetsGoOfEveryKeyAndButton) {
    key(0x38, true, Modifiers::shift);
    key(0x00, true, Modifiers::shift);
    button(MouseButton::left, true);
    device->take();
    injector.releaseAll();
    EXPECT_THAT(device->take(), ElementsAre("button 1 up", "key 38 up", "key 50 up"));
    injector.releaseAll();
    EXPECT_THAT(device->take(), IsEmpty());
}

// Text

TEST(TextChunksTest, CutsSixteenUnitsWithoutSplittingAPair) {
    const auto sizes = [](const std::string& text) {
        std::vector<std::size_t> result;
        for (const auto& chunk : textChunks(text)) {
            result.push_back(chunk.size());
        }
        return result;
    };
    EXPECT_THAT(sizes(std::string(40, 'a')), ElementsAre(16, 16, 8));
    // The 16th unit would be the first half of the emoji: the first chunk ends before it.
    const auto cut = textChunks(std::string(15, 'a') + "\xF0\x9F\x98\x80" + "b");
    ASSERT_EQ(cut.size(), 2U);
    EXPECT_EQ(cut[0], std::u32string(15, U'a'));
    EXPECT_EQ(cut[1], U"\U0001F600b");
    EXPECT_THAT(sizes(std::string(14, 'a') + "\xF0\x9F\x98\x80"), ElementsAre(15));  // exactly 16 units
    EXPECT_THAT(textChunks(""), IsEmpty());
    // Bytes that are not UTF-8 are left out, the rest is kept.
    EXPECT_EQ(textChunks("G\xC3\xBC\xFF\xC3ss"), std::vector<std::u32string>{U"G\u00FCss"});
}

TEST_F(InjectorTest, TextGoesInThroughTheKeymapWithNothingHeld) {
    key(0x38, true, Modifiers::shift);
    device->take();
    const int flushesBefore = device->flushes;
    injector.handle(input::Text{"aA@"});
    EXPECT_THAT(device->take(), ElementsAre("key 50 up",                                             // held Shift first
                                            "key 38 down", "key 38 up",                              // a
                                            "key 50 down", "key 38 down", "key 38 up", "key 50 up",  // A
                                            "key 92 down", "key 24 down", "key 24 up", "key 92 up"));
    EXPECT_EQ(device->flushes - flushesBefore, 1);
    injector.handle(input::Text{std::string(40, 'a')});
    EXPECT_EQ(device->flushes - flushesBefore, 4);  // one per chunk
    key(0x38, false);                               // Shift is no longer held
    EXPECT_EQ(device->take().size(), 80U);
}

TEST_F(InjectorTest, CharactersTheKeymapLacksBorrowSpareKeys) {
    injector.handle(input::Text{"\u00F1a\u00F1"});
    EXPECT_THAT(device->take(), ElementsAre("bind 200 U+00F1", "key 200 down", "key 200 up", "key 38 down", "key 38 up",
                                            "key 200 down", "key 200 up"));
    // Two spare keys, three characters: the least recently used key is taken back, once the focused
    // application has read what was typed on it.
    injector.handle(input::Text{"\u20AC\u00F1\u00DF"});
    EXPECT_THAT(device->take(), ElementsAre("bind 201 U+20AC", "key 201 down", "key 201 up", "key 200 down",
                                            "key 200 up", "sync", "bind 201 U+00DF", "key 201 down", "key 201 up"));
    injector.releaseAll();
    EXPECT_THAT(device->take(), ElementsAre("sync", "unbind 200", "unbind 201"));
    injector.handle(input::Text{"\u00F1"});  // the keys are empty again: no wait for the application
    EXPECT_THAT(device->take(), ElementsAre("bind 200 U+00F1", "key 200 down", "key 200 up"));
}

TEST_F(InjectorTest, ANewKeymapForgetsTheBorrowedKeys) {
    injector.handle(input::Text{"\u00F1"});
    device->take();
    ++device->generation;  // the desktop chose another layout: the binding went with the old one
    device->spare = {210};
    injector.handle(input::Text{"\u00F1"});
    EXPECT_THAT(device->take(), ElementsAre("bind 210 U+00F1", "key 210 down", "key 210 up"));
    ++device->generation;
    injector.releaseAll();
    EXPECT_THAT(device->take(), IsEmpty());  // nothing of ours is left to restore
}

TEST_F(InjectorTest, CharactersWithoutAnyKeyAreLeftOut) {
    device->spare.clear();
    injector.handle(input::Text{"\u00F1a"});
    EXPECT_THAT(device->take(), ElementsAre("key 38 down", "key 38 up"));
}

}  // namespace
}  // namespace vantrel
