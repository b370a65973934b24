// The injector against a real X server (the test session's Xvfb, two monitors side by side): what
// an application receives is what the phone asked for, on a US and on a German layout.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Backends/x11/X11Connection.hpp"
#include "Backends/x11/X11InputDevice.hpp"
#include "Backends/x11/X11SessionChecks.hpp"
#include "Backends/x11/tests/KeyRecorder.hpp"
#include "Backends/x11/tests/PrivateXServer.hpp"
#include "Input/InputInjector.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::waitUntil;

constexpr Rect leftBounds{0, 0, 1920, 1080};

// The injector over the X11 device on connection, as the desktop host makes it; null without one.
std::shared_ptr<InputInjector> makeInjector(std::shared_ptr<x11::X11Connection> connection,
                                            InputInjector::ActiveBounds bounds) {
    auto device = X11InputDevice::open(std::move(connection));
    return device ? std::make_shared<InputInjector>(std::move(device), std::move(bounds)) : nullptr;
}

class X11InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X display (scripts/test-session.sh)";
        }
        recorder = testing::KeyRecorder::open(leftBounds);
        ASSERT_TRUE(recorder);
        // The device shares its connection with the session checks, as in the desktop host.
        shared = std::make_shared<x11::SharedConnection>();
        checks = std::make_unique<x11::X11SessionChecks>(shared);
        injector = makeInjector(shared->reopened(), [this] {
            return watched == 1 ? std::optional(leftBounds) : std::optional(Rect{1920, 0, 1920, 1080});
        });
        ASSERT_TRUE(injector);
    }

    // Types text and waits until the focused window has seen as much as was typed.
    std::string typed(const std::string& text) {
        recorder->clear();
        injector->handle(input::Text{text});
        waitUntil([&] { return recorder->text().size() >= text.size(); });
        return recorder->text();
    }

    // The keys the desktop's keymap leaves empty, read afresh.
    static std::vector<Keycode> emptyKeys() {
        return X11InputDevice::open(x11::X11Connection::open("test"))->spareKeycodes();
    }

    std::unique_ptr<testing::KeyRecorder> recorder;
    std::uint32_t watched = 1;
    std::shared_ptr<x11::SharedConnection> shared;
    std::unique_ptr<x11::X11SessionChecks> checks;
    std::shared_ptr<InputInjector> injector;
};

TEST_F(X11InputTest, PointerMovesClicksAndScrollsLandWhereAsked) {
    EXPECT_TRUE(checks->offersSyntheticInput());
    injector->handle(input::PointerMoveAbsolute{0.25, 0.5});
    EXPECT_TRUE(waitUntil([&] { return injector->pointerLocation() == Point{480, 540}; }));
    injector->handle(input::PointerMove{3000, 10});  // stops at the left display's edge
    EXPECT_TRUE(waitUntil([&] { return injector->pointerLocation() == Point{1919, 550}; }));

    injector->handle(input::Button{MouseButton::left, true});
    injector->handle(input::PointerMove{-19, 0});  // a drag
    injector->handle(input::Button{MouseButton::left, false});
    injector->handle(input::Scroll{0, -100});
    ASSERT_TRUE(waitUntil([&] { return recorder->seen(XCB_BUTTON_RELEASE).size() == 3; }));
    const auto presses = recorder->seen(XCB_BUTTON_PRESS);
    ASSERT_EQ(presses.size(), 3U);
    EXPECT_EQ(presses[0].detail, 1);
    EXPECT_EQ(presses[0].at, (Point{1919, 550}));
    EXPECT_EQ(presses[1].detail, 5);
    EXPECT_EQ(recorder->seen(XCB_BUTTON_RELEASE)[0].at, (Point{1900, 550}));
    const auto motions = recorder->seen(XCB_MOTION_NOTIFY);
    ASSERT_FALSE(motions.empty());
    EXPECT_NE(motions.back().state & XCB_BUTTON_MASK_1, 0) << "the move with the button held is a drag";

    watched = 2;
    injector->movePointer({0, 0});
    EXPECT_TRUE(waitUntil([&] { return injector->pointerLocation() == Point{1920, 0}; }));
}

TEST_F(X11InputTest, KeysCarryExactModifiersAndNothingStaysPressed) {
    const auto emptyBefore = emptyKeys();
    injector->handle(input::Key{0x00, true, Modifiers{Modifiers::shift, Modifiers::command}});
    injector->handle(input::Key{0x38, true, Modifiers::shift});  // the phone holds Shift ...
    injector->handle(input::Key{0x0B, true, {}});                // ... and sends a key that wants none
    injector->handle(input::Button{MouseButton::right, true});
    ASSERT_TRUE(waitUntil([&] { return recorder->text() == "Ab"; })) << recorder->text();
    std::vector<std::uint16_t> states;
    for (const auto& key : recorder->seen(XCB_KEY_PRESS)) {
        if (!key.text.empty()) {
            states.push_back(key.state);
        }
    }
    EXPECT_THAT(states, ElementsAre(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4, 0));
    EXPECT_EQ(typed("\u00F1\u00E7"), "\u00F1\u00E7");  // borrows two empty keys
    EXPECT_NE(emptyKeys(), emptyBefore);

    injector->releaseAll();
    EXPECT_THAT(recorder->keysHeld(), IsEmpty());
    EXPECT_EQ(recorder->buttonsHeld(), 0);
    EXPECT_EQ(emptyKeys(), emptyBefore);
}

// Every character arrives exactly: ASCII, Latin letters the layout has or lacks, AltGr levels,
// CJK and an emoji, and more distinct missing characters than the keymap has empty keys.
class X11LayoutTest : public X11InputTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(X11LayoutTest, TextArrivesExactlyAndKeyPlacesFollowTheLayout) {
    const testing::LayoutGuard layout(GetParam());
    ASSERT_TRUE(layout.ok());
    const auto emptyBefore = emptyKeys();
    const std::string mixed = "Hello, World! Gr\u00FC\u00DFe \u20AC \u00F1 @{} \u65E5\u672C\u8A9E \U0001F600";
    EXPECT_EQ(typed(mixed), mixed);
    std::string manyMissing;
    for (int i = 0; i < 32; ++i) {
        manyMissing += "\xE4\xB8" + std::string(1, static_cast<char>(0x80 + i));  // U+4E00 onwards
    }
    EXPECT_EQ(typed(manyMissing), manyMissing);

    recorder->clear();
    injector->handle(input::Key{0x06, true, {}});  // the phone's "Z" place
    EXPECT_TRUE(waitUntil([&] { return !recorder->text().empty(); }));
    EXPECT_EQ(recorder->text(), std::string(GetParam()) == "de" ? "y" : "z");
    injector->releaseAll();
    EXPECT_EQ(emptyKeys(), emptyBefore) << "every borrowed key is empty again";
}

INSTANTIATE_TEST_SUITE_P(Layouts, X11LayoutTest, ::testing::Values("us", "de"));

// The session checks read the shared connection's events off every few seconds; the news of a new
// layout among them still reaches the device, which must read the keymap again.
TEST_F(X11InputTest, KeymapNewsReachTheDeviceWhicheverUserReadsTheSharedConnection) {
    const auto device = X11InputDevice::open(shared->reopened());
    ASSERT_TRUE(device);
    const auto before = device->keymapGeneration();
    const testing::LayoutGuard layout("de");
    ASSERT_TRUE(layout.ok());
    // A round trip takes in every event the server sent before its answer; the checks then read
    // them all off the connection.
    EXPECT_TRUE(checks->pointerLocation());
    EXPECT_TRUE(checks->screenReadable());
    EXPECT_NE(device->keymapGeneration(), before) << "the device missed the new layout";
}

// A laptop docked after the host started: the desktop grows, and the pointer reaches the new part.
TEST(X11GrowingDesktopTest, ThePointerReachesAMonitorAddedAfterStart) {
    testing::PrivateXServer server(3840, 1080);
    ASSERT_TRUE(server.ok());
    server.run("xrandr --fb 1920x1080");
    const Rect added{1920, 0, 1920, 1080};
    const auto injector = makeInjector(x11::X11Connection::open("test"), [&] { return std::optional(added); });
    ASSERT_TRUE(injector);
    ASSERT_TRUE(server.run("xrandr --fb 3840x1080"));
    injector->handle(input::PointerMoveAbsolute{0.5, 0.5});
    EXPECT_TRUE(waitUntil([&] {
        return injector->pointerLocation() == Point{2880, 540};
    })) << "the pointer is at "
        << injector->pointerLocation().value_or(Point{}).x;
}

}  // namespace
}  // namespace vantrel
