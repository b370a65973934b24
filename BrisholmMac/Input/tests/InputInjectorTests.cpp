#include "Input/InputInjector.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include "FakeInputDevice.hpp"
#include "Input/TypedText.hpp"

namespace vantrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Display 1 on the left and 2 on its right, as the test session lays them out.
class InjectorTest : public ::testing::Test {
protected:
    std::shared_ptr<testing::FakeInputDevice> device = std::make_shared<testing::FakeInputDevice>();
    double now = 100;
    std::uint32_t watched = 1;
    InputInjector injector{
        device,
        [this] {
            return watched > 2 ? std::nullopt : std::optional(Rect{(watched - 1) * 1920.0, 0, 1920, 1080});
        },
        [this] { return now; }};

    void key(std::uint16_t code, bool down, Modifiers modifiers = {}) {
        injector.handle(input::Key{code, down, modifiers});
    }
    void button(MouseButton which, bool down) { injector.handle(input::Button{which, down}); }
};

TEST_F(InjectorTest, ThePointerStaysOnTheActiveDisplay) {
    injector.handle(input::PointerMoveAbsolute{1, 1});
    injector.handle(input::PointerMoveAbsolute{-0.5, 2});
    device->pointer = {2500, 500};  // on the right display while the phone watches the left
    injector.handle(input::PointerMove{100, -600});
    watched = 2;
    injector.handle(input::PointerMoveAbsolute{0.5, 0});
    watched = 99;  // unknown: nowhere to put the pointer, and nothing to confine it
    injector.handle(input::PointerMoveAbsolute{0.5, 0.5});
    device->pointerReadable = false;  // an unreadable pointer counts as the origin
    injector.handle(input::PointerMove{3, 4});
    EXPECT_THAT(device->take(), ElementsAre("move 1919,1079", "move 0,1079", "move 1919,0", "move 2880,0", "move 3,4"));
}

// A slow finger sends moves of a fraction of a point: they add up instead of being lost or
// rounded into jumps. A pointer moved at the desk in between starts the count afresh.
TEST_F(InjectorTest, SmallRelativeMovesAddUp) {
    device->pointer = {100, 100};
    for (int i = 0; i < 10; ++i) {
        injector.handle(input::PointerMove{0.3, -0.25});
    }
    EXPECT_EQ(device->pointer, (Point{103, 98}));  // 3 and -2.5, kept as 103 and 97.5
    device->pointer = {500, 500};
    injector.handle(input::PointerMove{0.4, 0.4});
    EXPECT_EQ(device->pointer, (Point{500, 500}));
    injector.handle(input::PointerMove{0.4, 0.4});
    EXPECT_EQ(device->pointer, (Point{501, 501}));
}

TEST_F(InjectorTest, NumbersNoDisplayHasAreDropped) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    injector.handle(input::PointerMove{nan, 1});
    injector.handle(input::PointerMoveAbsolute{0.5, nan});
    injector.handle(input::Scroll{0, std::numeric_limits<double>::infinity()});
    EXPECT_THAT(device->take(), IsEmpty());
    // An absurd scroll is a bounded burst of clicks and leaves no remainder behind.
    injector.handle(input::Scroll{0, 1e300});
    EXPECT_EQ(device->take().size(), 2U * InputInjector::maxWheelClicksPerEvent);
    injector.handle(input::Scroll{0, 49});
    EXPECT_THAT(device->take(), IsEmpty());
}

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
    // The phone is gone once nothing is held: a device with a session per phone may end it.
    EXPECT_THAT(device->take(), ElementsAre("button 2 up", "session over"));
}

TEST_F(InjectorTest, ClickSeriesCountsUpToThreeWithinTimeAndPlace) {
    const auto click = [this](double at, Point where = {}, MouseButton which = MouseButton::left) {
        now = at;
        device->pointer = where;
        button(which, true);
        button(which, false);
        return injector.clickCount();
    };
    std::vector<int> counts{click(100.0), click(100.1), click(100.2), click(100.3), click(100.8)};
    EXPECT_THAT(counts, ElementsAre(1, 2, 3, 3, 1));  // the last 0.5 s later
    EXPECT_EQ(click(100.9, {3.9, 3.9}), 2);
    EXPECT_EQ(click(101.0, {8.9, 3.9}), 1);  // 5 points away
    // The time is kept per button, the place and count are shared.
    EXPECT_EQ(click(101.1, {8.9, 3.9}), 2);
    EXPECT_EQ(click(101.2, {8.9, 3.9}, MouseButton::right), 1);
}

TEST_F(InjectorTest, ScrollingBecomesWheelClicksAndCarriesTheRest) {
    const auto scroll = [this](double dx, double dy) {
        injector.handle(input::Scroll{dx, dy});
        std::vector<std::string> buttons;
        for (const auto& line : device->take()) {
            if (line.ends_with("down")) {
                buttons.push_back(line.substr(7, 1));
            }
        }
        return buttons;
    };
    EXPECT_THAT(scroll(0, 20), IsEmpty());
    EXPECT_THAT(scroll(0, 20), IsEmpty());
    EXPECT_THAT(scroll(0, 20), ElementsAre("4"));         // 60: one click up, 10 carried
    EXPECT_THAT(scroll(0, -135), ElementsAre("5", "5"));  // -125: two down, -25 carried
    EXPECT_THAT(scroll(0, -25), ElementsAre("5"));
    EXPECT_THAT(scroll(60, -60), ElementsAre("5", "6"));
    EXPECT_THAT(scroll(-90, 0), ElementsAre("7"));  // -80 with the 10 carried
}

TEST_F(InjectorTest, KeysCarryExactlyTheGivenModifiers) {
    key(0x00, true, Modifiers{Modifiers::command, Modifiers::shift});
    key(0x00, false, Modifiers{Modifiers::command, Modifiers::shift});
    // The release changes no modifier: a lone Super tap around it would open a launcher.
    EXPECT_THAT(device->take(),
                ElementsAre("key 50 down", "key 133 down", "key 38 down", "key 133 up", "key 50 up", "key 38 up"));
    // The unnamed bits mean nothing; option is Alt, control is Control.
    key(0x06, true, Modifiers(std::uint8_t{0xF0 | 0x04 | 0x02}));
    EXPECT_THAT(device->take(), ElementsAre("key 37 down", "key 64 down", "key 52 down", "key 64 up", "key 37 up"));
    key(0x3F, true);   // Function: no place on this keyboard
    key(0x7E, true);   // Up arrow: this (fake) keyboard lacks it
    key(0x00, false);  // not held
    EXPECT_THAT(device->take(), IsEmpty());
}

TEST_F(InjectorTest, HeldModifierKeysAreLetGoAroundKeysThatDoNotWantThem) {
    key(0x38, true, Modifiers::shift);  // the phone holds Shift
    key(0x00, true, Modifiers::shift);  // wanted and held: nothing around it
    key(0x00, false);                   // a release goes up as it is
    key(0x06, true);                    // not wanted: let go around the key, then held again
    EXPECT_THAT(device->take(),
                ElementsAre("key 50 down", "key 38 down", "key 38 up", "key 50 up", "key 52 down", "key 50 down"));
    injector.releaseAll();
    injector.releaseAll();
    key(0x38, false);  // released already
    EXPECT_THAT(device->take(), ElementsAre("key 50 up", "key 52 up", "session over", "session over"));
}

TEST(TextChunksTest, CutsSixteenUnitsWithoutSplittingAPair) {
    std::vector<std::size_t> sizes;
    for (const auto& chunk : textChunks(std::string(40, 'a'))) {
        sizes.push_back(chunk.size());
    }
    EXPECT_THAT(sizes, ElementsAre(16, 16, 8));
    // The 16th unit would be the first half of the emoji: the first chunk ends before it.
    EXPECT_THAT(textChunks(std::string(15, 'a') + "\U0001F600b"),
                ElementsAre(std::u32string(15, U'a'), U"\U0001F600b"));
    EXPECT_THAT(textChunks(std::string(14, 'a') + "\U0001F600"), ElementsAre(std::u32string(14, U'a') + U"\U0001F600"));
    EXPECT_THAT(textChunks(""), IsEmpty());
    EXPECT_THAT(textChunks("G\xC3\xBC\xFF\xC3ss"), ElementsAre(U"G\u00FCss"));  // bytes that are not UTF-8 are left out
}

TEST_F(InjectorTest, TextGoesInThroughTheKeymapWithNothingHeld) {
    key(0x38, true, Modifiers::shift);
    device->take();
    const int flushesBefore = device->flushes;
    injector.handle(input::Text{"aA@"});
    EXPECT_THAT(device->take(), ElementsAre("key 50 up",  // the held Shift first
                                            "key 38 down", "key 38 up", "key 50 down", "key 38 down", "key 38 up",
                                            "key 50 up", "key 92 down", "key 24 down", "key 24 up", "key 92 up"));
    injector.handle(input::Text{std::string(40, 'a')});
    EXPECT_EQ(device->flushes - flushesBefore, 4);  // one per chunk
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
    EXPECT_THAT(device->take(), ElementsAre("sync", "unbind 200", "unbind 201", "session over"));
    injector.handle(input::Text{"\u00F1"});  // the keys are empty again: no wait for the application
    EXPECT_THAT(device->take(), ElementsAre("bind 200 U+00F1", "key 200 down", "key 200 up"));
}

// A device that hands applications a whole keymap for each change of a key (Wayland's virtual
// keyboard) hands them one per chunk when the chunk's keys are all bound first; a chunk that needs
// more keys than there are is typed in parts, and no key is rebound before its character is typed.
TEST_F(InjectorTest, AChunksBorrowedKeysAreBoundBeforeItIsTyped) {
    device->spare = {200, 201, 202};
    device->bindAhead = true;
    injector.handle(input::Text{"\u00F1a\u00DF\u00E7"});
    EXPECT_THAT(device->take(),
                ElementsAre("bind 200 U+00F1", "bind 201 U+00DF", "bind 202 U+00E7", "key 200 down", "key 200 up",
                            "key 38 down", "key 38 up", "key 201 down", "key 201 up", "key 202 down", "key 202 up"));
    injector.handle(input::Text{"\u20AC\u00E5\u00DF\u00F8"});
    EXPECT_THAT(device->take(), ElementsAre("sync", "bind 200 U+20AC", "bind 201 U+00E5", "bind 202 U+00DF",
                                            "key 200 down", "key 200 up", "key 201 down", "key 201 up", "key 202 down",
                                            "key 202 up", "sync", "bind 200 U+00F8", "key 200 down", "key 200 up"));
}

TEST(TextRunsTest, SplitsTypedFromPastedInOrderAndLeavesOutKeylessControls) {
    const auto typable = [](char32_t c) { return c < 0x80 && c != U'\x01'; };
    EXPECT_THAT(textRuns(U"Gr\u00FC\u00DFe \u20AC\n\U0001F600", typable),
                ElementsAre(TextRun{U"Gr", false}, TextRun{U"\u00FC\u00DF", true}, TextRun{U"e ", false},
                            TextRun{U"\u20AC", true}, TextRun{U"\n", false}, TextRun{U"\U0001F600", true}));
    // A control character no key types is neither pasted nor does it split a run.
    EXPECT_THAT(textRuns(U"\u00F1\x01\u0085\u00F1a\x01", typable),
                ElementsAre(TextRun{U"\u00F1\u00F1", true}, TextRun{U"a", false}));
    EXPECT_THAT(textRuns(U"", typable), IsEmpty());
    EXPECT_EQ(utf8Text(U"G\u00FC\u20AC\U0001F600"), "G\u00FC\u20AC\U0001F600");
}

// On a device whose keymap cannot be changed, what the keymap lacks goes in as pastes, one per run,
// between the keys typed before and after it; text longer than a chunk still pastes a run whole.
TEST_F(InjectorTest, RunsTheKeymapLacksArePastedInPlace) {
    device->pastes = true;
    key(0x38, true, Modifiers::shift);
    device->take();
    injector.handle(input::Text{"a\u00F1\u00DFa\U0001F600"});
    EXPECT_THAT(device->take(), ElementsAre("key 50 up", "key 38 down", "key 38 up", "paste \u00F1\u00DF",
                                            "key 38 down", "key 38 up", "paste \U0001F600"));
    injector.handle(input::Text{std::string(10, 'a') + "\u00F1\u00F1\u00F1\u00F1\u00F1\u00F1\u00F1\u00F1"});
    const auto log = device->take();
    ASSERT_EQ(log.size(), 21U);
    EXPECT_EQ(log.back(), "paste \u00F1\u00F1\u00F1\u00F1\u00F1\u00F1\u00F1\u00F1");
}

TEST_F(InjectorTest, APasteNoApplicationTookFallsBackToSpareKeys) {
    device->pastes = true;
    device->pasteTaken = false;
    injector.handle(input::Text{"\u00F1a"});
    EXPECT_THAT(device->take(), ElementsAre("paste \u00F1", "bind 200 U+00F1", "key 200 down", "key 200 up",
                                            "key 38 down", "key 38 up"));
}

TEST_F(InjectorTest, ANewKeymapForgetsTheBorrowedKeys) {
    injector.handle(input::Text{"\u00F1"});
    ++device->generation;  // the desktop chose another layout: the binding went with the old one
    device->spare = {210};
    injector.handle(input::Text{"\u00F1"});
    ++device->generation;
    injector.releaseAll();  // nothing of ours is left to restore
    EXPECT_THAT(device->take(), ElementsAre("bind 200 U+00F1", "key 200 down", "key 200 up", "bind 210 U+00F1",
                                            "key 210 down", "key 210 up", "session over"));
    device->spare.clear();
    ++device->generation;
    injector.handle(input::Text{"\u00F1a"});  // no key at all: left out, the rest typed
    EXPECT_THAT(device->take(), ElementsAre("key 38 down", "key 38 up"));
}

}  // namespace
}  // namespace vantrel
