// The injector over the wlroots input device against a headless sway of the test's own, with foot
// windows that write what they receive to a file: text arrives exactly on the desk's layout, the
// first key after opening included, clicks land where asked on either output, and nothing stays
// pressed once the phone has left.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

#include "Backends/wlroots/WlrootsInputDevice.hpp"
#include "DeskKeyboard.hpp"
#include "Input/InputInjector.hpp"
#include "PrivateSway.hpp"
#include "TypingWindow.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using testing::DeskKeyboard;
using testing::PrivateSway;
using testing::TypingWindow;
using testing::waitUntil;

constexpr Rect firstOutput{0, 0, 1280, 720};
constexpr Rect secondOutput{1280, 0, 1024, 768};

// The phone's key codes of the places used here.
constexpr std::uint16_t placeA = 0x00;
constexpr std::uint16_t placeB = 0x0B;
constexpr std::uint16_t placeZ = 0x06;
constexpr std::uint16_t placeReturn = 0x24;
constexpr std::uint16_t placeShift = 0x38;

// Whether thread tid of this process sleeps in poll(), as the device does while it waits for the
// compositor to read.
bool waitsInPoll(pid_t tid) {
    std::ifstream wchan("/proc/self/task/" + std::to_string(tid) + "/wchan");
    std::string where;
    wchan >> where;
    return where.find("poll") != std::string::npos;
}

class WlrootsInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sway_.ok()) {
            GTEST_SKIP() << sway_.failure();
        }
    }

    // A device and the injector over it, as the desktop host makes them, watching output watched_.
    void open() {
        injector_.reset();
        device_ = WlrootsInputDevice::open();
        ASSERT_TRUE(device_);
        injector_ = std::make_unique<InputInjector>(
            device_, [this] { return std::optional(watched_ == 1 ? firstOutput : secondOutput); });
    }

    void tap(std::uint16_t place, Modifiers modifiers = {}) {
        injector_->handle(input::Key{place, true, modifiers});
        injector_->handle(input::Key{place, false, modifiers});
    }

    void clickAt(double x, double y) {
        injector_->handle(input::PointerMoveAbsolute{x, y});
        injector_->handle(input::Button{MouseButton::left, true});
        injector_->handle(input::Button{MouseButton::left, false});
    }

    PrivateSway sway_{{{1280, 720}, {1024, 768}}};
    int watched_ = 1;
    std::shared_ptr<WlrootsInputDevice> device_;
    std::unique_ptr<InputInjector> injector_;
};

// The first key right after a virtual keyboard's first keymap is easily lost, or read with the
// keymap sway gives a new keyboard before ours arrives (its default layout, not the desk's). Every
// new device types at once here, a key place first: every line arrives whole, in the desk's layout.
// (With a keyboard at the desk, as every real seat has: on a seat without any, applications take up
// a keyboard only once ours appears, and may miss what it types in its first moments.)
TEST_F(WlrootsInputTest, TheFirstKeyAfterOpeningArrivesInTheDesksLayout) {
    DeskKeyboard desk("de");
    ASSERT_TRUE(desk.ok());
    const TypingWindow window(sway_, "first-key");
    ASSERT_TRUE(window.ok());
    std::string expected;
    for (int round = 0; round < 3; ++round) {
        // The seat hands out the keymap of the keyboard that typed last; once a device that typed
        // is gone, it has none until someone types at the desk again.
        ASSERT_TRUE(desk.tap());
        open();
        tap(placeZ);  // y on a German keyboard
        const std::string line = std::to_string(round) + "\n";
        injector_->handle(input::Text{line});
        expected += "y" + line;
        EXPECT_EQ(window.waitFor(expected), expected) << "round " << round;
    }
}

// On a German desk keyboard: ASCII, letters of the layout, AltGr levels, characters it lacks (more
// distinct ones than it has empty keys), CJK and an emoji; key places type the desk's characters
// with exactly the phone's modifiers; and our own keymaps, which the seat hands back once our
// keyboard types, never pass for a new desk layout.
TEST_F(WlrootsInputTest, TextAndKeysArriveExactlyOnTheDesksGermanLayout) {
    const DeskKeyboard desk("de");
    ASSERT_TRUE(desk.ok());
    const TypingWindow window(sway_, "german");
    ASSERT_TRUE(window.ok());
    open();
    const auto generation = device_->keymapGeneration();

    std::string expected = "Hello, World! Gr\u00FC\u00DFe \u20AC \u00F1 @ | ~ {} \u65E5\u672C\u8A9E \U0001F600\n";
    injector_->handle(input::Text{expected});
    std::string manyMissing;
    for (int i = 0; i < 40; ++i) {
        manyMissing += "\xE4\xB8" + std::string(1, static_cast<char>(0x80 + i));  // U+4E00 onwards
    }
    manyMissing += "\n";
    injector_->handle(input::Text{manyMissing});
    expected += manyMissing;

    tap(placeZ);  // the "Z" place has y on a German keyboard
    tap(placeA, Modifiers::shift);
    injector_->handle(input::Key{placeShift, true, Modifiers::shift});  // the phone holds Shift ...
    tap(placeB);                                                        // ... for a key that wants none
    injector_->handle(input::Key{placeShift, false, {}});
    tap(placeReturn);
    expected += "yAb\n";
    EXPECT_EQ(window.waitFor(expected), expected);
    EXPECT_EQ(device_->keymapGeneration(), generation);
}

// A pasted paragraph of 1000 characters, while the terminal is busy and reads nothing: the
// compositor holds the keys for it, and drops an application whose socket fills, which one small
// write per key does after a few hundred. Each line arrives whole and in order once it reads again.
TEST_F(WlrootsInputTest, ALongTextArrivesWholeThoughTheTerminalIsBusy) {
    const DeskKeyboard desk("us");
    ASSERT_TRUE(desk.ok());
    const TypingWindow window(sway_, "long-text");
    ASSERT_TRUE(window.ok());
    open();
    ASSERT_TRUE(window.pause());
    std::string expected;
    for (int line = 0; line < 20; ++line) {
        std::string text;
        for (int i = 0; i < 50; ++i) {
            text += static_cast<char>('a' + (line + i) % 26);
        }
        injector_->handle(input::Text{text + "\n"});
        expected += text + "\n";
    }
    ASSERT_TRUE(sway_.message("-t get_tree").find("\"long-text\"") != std::string::npos)
        << "the compositor dropped the busy terminal";
    window.resume();
    EXPECT_EQ(window.waitFor(expected), expected);
}

// The compositor is busy elsewhere for a moment and reads nothing, while the phone sends more than
// its socket holds: the device waits for it instead of losing its connection, so what comes
// next still arrives. (The text goes to an empty output: an application flooded with thousands of
// keys at once may fall too far behind and be dropped by the compositor, which is not under test.)
TEST_F(WlrootsInputTest, ABusyCompositorCostsAWaitNotTheConnection) {
    const DeskKeyboard desk("us");
    ASSERT_TRUE(desk.ok());
    ASSERT_FALSE(sway_.message("focus output HEADLESS-2").empty());
    const TypingWindow window(sway_, "after-busy");
    ASSERT_TRUE(window.ok());
    ASSERT_FALSE(sway_.message("focus output HEADLESS-1").empty());
    open();
    sway_.pause();
    // The compositor comes back once the device waits for it (its socket is full): the typing
    // thread, this one (the injector's), then sleeps in poll().
    std::jthread busyElsewhere([this, typist = ::gettid()] {
        waitUntil([&] { return waitsInPoll(typist); });
        sway_.resume();
    });
    injector_->handle(input::Text{std::string(5000, 'x')});
    busyElsewhere.join();

    watched_ = 2;
    clickAt(0.5, 0.5);
    ASSERT_TRUE(waitUntil([&] { return sway_.focusedName() == "after-busy"; })) << sway_.focusedName();
    injector_->handle(input::Text{"still here\n"});
    EXPECT_EQ(window.waitFor("still here\n"), "still here\n");
}

// Someone types at the desk after choosing a new layout: the seat hands the device the new keymap,
// and the phone's key places and borrowed keys follow it.
TEST_F(WlrootsInputTest, ANewLayoutAtTheDeskIsTakenUp) {
    const DeskKeyboard us("us");
    ASSERT_TRUE(us.ok());
    const TypingWindow window(sway_, "relayout");
    ASSERT_TRUE(window.ok());
    open();
    tap(placeZ);
    injector_->handle(input::Text{"\u00F1\n"});
    EXPECT_EQ(window.waitFor("z\u00F1\n"), "z\u00F1\n");

    const auto generation = device_->keymapGeneration();
    const DeskKeyboard german("de");
    ASSERT_TRUE(german.ok());
    tap(placeZ);
    injector_->handle(input::Text{"\u00F1\n"});
    EXPECT_EQ(window.waitFor("z\u00F1\ny\u00F1\n"), "z\u00F1\ny\u00F1\n");
    EXPECT_GT(device_->keymapGeneration(), generation);
}

// Absolute moves reach any point of either output, and a click there gives that window the focus.
TEST_F(WlrootsInputTest, ClicksMoveTheFocusToTheWindowUnderThemOnEitherOutput) {
    // The seat has a keyboard before the windows open, as at a real desk: a terminal takes up a
    // keyboard only once the seat has one, and would miss the first keys of ours otherwise.
    const DeskKeyboard desk("us");
    ASSERT_TRUE(desk.ok());
    const TypingWindow left(sway_, "on-first");
    ASSERT_TRUE(left.ok());
    ASSERT_FALSE(sway_.message("focus output HEADLESS-2").empty());
    const TypingWindow right(sway_, "on-second");
    ASSERT_TRUE(right.ok());
    open();

    clickAt(0.5, 0.5);
    EXPECT_TRUE(waitUntil([&] { return sway_.focusedName() == "on-first"; })) << sway_.focusedName();
    watched_ = 2;
    clickAt(0.75, 0.25);
    EXPECT_EQ(injector_->pointerLocation(), (Point{1280 + 768, 192}));
    EXPECT_TRUE(waitUntil([&] { return sway_.focusedName() == "on-second"; })) << sway_.focusedName();
    injector_->handle(input::Scroll{0, -120});  // two wheel clicks and a carried rest
    injector_->handle(input::Text{"scrolled\n"});
    EXPECT_EQ(right.waitFor("scrolled\n"), "scrolled\n");
}

// A phone that leaves with Shift and a button held leaves neither held: the next click gives
// another window the focus (a held button keeps it where the press was) and the next key is small.
// A device that goes with a button held lets it go as well.
TEST_F(WlrootsInputTest, NothingStaysPressedAfterThePhoneLeaves) {
    // The seat has a keyboard before the windows open, as at a real desk: a terminal takes up a
    // keyboard only once the seat has one, and would miss the first keys of ours otherwise.
    const DeskKeyboard desk("us");
    ASSERT_TRUE(desk.ok());
    const TypingWindow a(sway_, "window-a");
    ASSERT_TRUE(a.ok());
    const TypingWindow b(sway_, "window-b");
    ASSERT_TRUE(b.ok());
    open();

    clickAt(0.25, 0.5);
    ASSERT_TRUE(waitUntil([&] { return sway_.focusedName() == "window-a"; })) << sway_.focusedName();
    injector_->handle(input::Key{placeShift, true, Modifiers::shift});
    injector_->handle(input::Button{MouseButton::left, true});
    injector_->releaseAll();  // the phone left

    clickAt(0.75, 0.5);
    EXPECT_TRUE(waitUntil([&] { return sway_.focusedName() == "window-b"; })) << sway_.focusedName();
    tap(placeA);
    tap(placeReturn);
    EXPECT_EQ(b.waitFor("a\n"), "a\n");

    device_->pressButton(pointerButton::left, true);
    injector_.reset();
    device_->pressButton(pointerButton::left, true);  // the injector released only what it pressed
    device_.reset();
    open();
    clickAt(0.25, 0.5);
    EXPECT_TRUE(waitUntil([&] { return sway_.focusedName() == "window-a"; })) << sway_.focusedName();
}

}  // namespace
}  // namespace vantrel
