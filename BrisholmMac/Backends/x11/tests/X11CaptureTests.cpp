// Displays, the capturer and the streamer against real X servers of the tests' own: what the
// fakes cannot show (RandR monitors and names, pixels through MIT-SHM and plain GetImage, damage,
// the XFIXES pointer, a monitor removed under a running stream).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstring>

#include "Backends/x11/X11Connection.hpp"
#include "Backends/x11/X11Displays.hpp"
#include "Backends/x11/X11ScreenCapturer.hpp"
#include "Backends/x11/tests/PrivateXServer.hpp"
#include "CaptureHarness.hpp"
#include "ScreenStreamer.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using ::testing::ElementsAre;
using testing::PrivateXServer;
using testing::waitUntil;

// The test's own X client: atoms, a solid window, the pointer. Every call waits until the server
// has done it, so what the capturer reads afterwards includes it.
class TestClient {
public:
    TestClient() : connection_(xcb_connect(nullptr, nullptr)) {
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    }
    ~TestClient() { xcb_disconnect(connection_); }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    std::uint32_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const auto atom = reply->atom;
        std::free(reply);
        return atom;
    }

    void paintRoot(std::uint32_t rgb) {
        xcb_change_window_attributes(connection_, screen_->root, XCB_CW_BACK_PIXEL, &rgb);
        xcb_clear_area(connection_, 0, screen_->root, 0, 0, 0, 0);
        sync();
    }

    // A borderless window the window manager leaves alone, filled with rgb.
    void window(std::int16_t x, std::int16_t y, std::uint16_t width, std::uint16_t height, std::uint32_t rgb) {
        const auto id = xcb_generate_id(connection_);
        const std::uint32_t values[] = {rgb, 1};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, id, screen_->root, x, y, width, height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(connection_, id);
        sync();
    }

    void warpPointer(std::int16_t x, std::int16_t y) {
        xcb_warp_pointer(connection_, XCB_NONE, screen_->root, 0, 0, 0, 0, x, y);
        sync();
    }

    // As a device (and the phone's injector) moves it: through XTest, with raw motion.
    void movePointer(std::int16_t x, std::int16_t y) {
        xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, screen_->root, x, y, 0);
        sync();
    }

private:
    void sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
};

// The session layout: L (primary, on the screen's output) and R side by side.
bool twoMonitors(const PrivateXServer& server) {
    return server.run("xrandr --setmonitor '*L' 1920/508x1080/286+0+0 screen") &&
           server.run("xrandr --setmonitor R 1920/508x1080/286+1920+0 none");
}

TEST(X11DisplaysTest, ListsTheMonitorsPrimaryFirstWithTheirNamesSizesAndPlaces) {
    PrivateXServer server(3840, 1080);
    ASSERT_TRUE(server.ok() && twoMonitors(server));
    TestClient client;
    const auto left = client.atom("L");
    const auto right = client.atom("R");

    const auto displays = x11::makeX11Displays(std::make_shared<x11::SharedConnection>());
    ASSERT_NE(displays, nullptr);
    // L takes its name from its output; R has none and keeps its own.
    EXPECT_THAT(displays->list(),
                ElementsAre(DisplayInfo{left, "screen", 1920, 1080}, DisplayInfo{right, "R", 1920, 1080}));
    EXPECT_EQ(displays->primary(), left);
    EXPECT_THAT(displays->layout(),
                ElementsAre(DisplayBounds{left, {0, 0, 1920, 1080}}, DisplayBounds{right, {1920, 0, 1920, 1080}}));
    EXPECT_EQ(displays->name(right), "R");
    EXPECT_EQ(displays->name(12345), "Display 12345");
}

TEST(X11DisplaysTest, LargeMonitorsStreamAtMost2560WideAndThePrimaryComesFirstWhereverItIs) {
    PrivateXServer server(8000, 2880);
    ASSERT_TRUE(server.ok());
    ASSERT_TRUE(server.run("xrandr --setmonitor Retina 2880/600x1800/380+0+0 screen"));
    ASSERT_TRUE(server.run("xrandr --setmonitor '*Wide' 5120/1190x2880/670+2880+0 none"));
    TestClient client;
    const auto displays = x11::makeX11Displays(std::make_shared<x11::SharedConnection>());
    ASSERT_NE(displays, nullptr);
    EXPECT_THAT(displays->list(), ElementsAre(DisplayInfo{client.atom("Wide"), "Wide", 2560, 1440},
                                              DisplayInfo{client.atom("Retina"), "screen", 2560, 1600}));
}

std::uint32_t rgbAt(const PixelBuffer& frame, std::int32_t x, std::int32_t y) {
    const auto* pixel = frame.row(y).data() + x * 4;
    return static_cast<std::uint32_t>(pixel[2]) << 16 | static_cast<std::uint32_t>(pixel[1]) << 8 | pixel[0];
}

// How many pixels of the 20x20 square around (x, y) are not rgb.
int pixelsOtherThan(const PixelBuffer& frame, std::int32_t x, std::int32_t y, std::uint32_t rgb) {
    int count = 0;
    for (std::int32_t row = y - 10; row < y + 10; ++row) {
        for (std::int32_t column = x - 10; column < x + 10; ++column) {
            count += rgbAt(frame, column, row) != rgb ? 1 : 0;
        }
    }
    return count;
}

// With and without MIT-SHM: the plain GetImage fallback must give the same pictures.
class X11CapturerTest : public ::testing::TestWithParam<bool> {};

TEST_P(X11CapturerTest, GrabsWhatAClientDrewWithThePointerAndReportsOnlyChangesInItsArea) {
    const bool withShm = GetParam();
    PrivateXServer server(3840, 1080,
                          withShm ? std::vector<std::string>{} : std::vector<std::string>{"-extension", "MIT-SHM"});
    ASSERT_TRUE(server.ok() && twoMonitors(server));
    TestClient client;
    client.paintRoot(0x336699);
    client.window(2000, 100, 400, 300, 0xff8800);
    client.warpPointer(100, 100);  // on L, out of the way

    auto capturer = x11::makeX11Capturer();
    ASSERT_NE(capturer, nullptr);
    const Rect right{1920, 0, 1920, 1080};
    ASSERT_EQ(capturer->watch(right, {1920, 1080}), CaptureStatus::ok);
    EXPECT_TRUE(capturer->changes().picture) << "a new area counts as changed";
    auto grabbed = capturer->grab();
    ASSERT_EQ(grabbed.status, CaptureStatus::ok) << grabbed.reason;
    ASSERT_EQ(grabbed.frame->width(), 1920);
    EXPECT_EQ(rgbAt(*grabbed.frame, 80, 100), 0xff8800u);
    EXPECT_EQ(rgbAt(*grabbed.frame, 479, 399), 0xff8800u);
    EXPECT_EQ(rgbAt(*grabbed.frame, 480, 399), 0x336699u);
    EXPECT_EQ(rgbAt(*grabbed.frame, 1900, 1000), 0x336699u);

    // Still: nothing to report. Drawing on L is not R's business; drawing on R is.
    ASSERT_TRUE(waitUntil([&] { return !capturer->changes().picture; }));
    client.window(300, 300, 50, 50, 0x00ff00);
    EXPECT_FALSE(capturer->changes().picture);
    client.window(3000, 500, 50, 50, 0x00ff00);
    ASSERT_TRUE(waitUntil([&] { return capturer->changes().picture; }));

    // The pointer moved into R: reported, and drawn into the frame at its place.
    client.warpPointer(1920 + 1500, 600);
    ASSERT_TRUE(waitUntil([&] { return capturer->changes().cursor; }));
    grabbed = capturer->grab();
    ASSERT_EQ(grabbed.status, CaptureStatus::ok);
    EXPECT_GT(pixelsOtherThan(*grabbed.frame, 1500, 600, 0x336699), 10);
    EXPECT_EQ(rgbAt(*grabbed.frame, 1100, 520), 0x00ff00u);

    // Later grabs fetch only what changed since each buffer was last used: the pointer moved away
    // and a window appeared; where the pointer was drawn before must show the screen again.
    grabbed = {};
    const auto first = capturer->grab();
    client.warpPointer(1920 + 200, 900);
    client.window(1920 + 1200, 700, 60, 60, 0x0000ff);
    ASSERT_TRUE(waitUntil([&] {
        const auto changes = capturer->changes();
        return changes.picture || changes.cursor;
    }));
    const auto second = capturer->grab();
    ASSERT_EQ(second.status, CaptureStatus::ok);
    for (const auto* frame : {first.frame.get(), second.frame.get()}) {
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(rgbAt(*frame, 80, 100), 0xff8800u);
        EXPECT_EQ(rgbAt(*frame, 1100, 520), 0x00ff00u);
    }
    EXPECT_EQ(pixelsOtherThan(*second.frame, 1500, 600, 0x336699), 0) << "the old pointer is gone";
    EXPECT_GT(pixelsOtherThan(*second.frame, 200, 900, 0x336699), 10);
    EXPECT_EQ(rgbAt(*second.frame, 1230, 730), 0x0000ffu);
}

INSTANTIATE_TEST_SUITE_P(Grabbing, X11CapturerTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "SharedMemory" : "PlainGetImage"; });

// Whether descriptor turns readable within timeout.
bool readable(int descriptor, std::chrono::milliseconds timeout) {
    pollfd watch{descriptor, POLLIN, 0};
    return ::poll(&watch, 1, static_cast<int>(timeout.count())) == 1;
}

// What lets a streamer rest on a still screen: the capturer's descriptor stays quiet while nothing
// changes, and turns readable for drawing and for pointer motion (which draws no damage: the
// server reports it as XInput raw motion).
TEST(X11CapturerNewsTest, WakeAStreamerForDrawingAndForPointerMotion) {
    PrivateXServer server(1920, 1080);
    ASSERT_TRUE(server.ok());
    TestClient client;
    client.paintRoot(0x336699);
    client.warpPointer(100, 100);
    auto capturer = x11::makeX11Capturer();
    ASSERT_NE(capturer, nullptr);
    ASSERT_EQ(capturer->watch({0, 0, 1920, 1080}, {1920, 1080}), CaptureStatus::ok);
    const auto news = capturer->news();
    ASSERT_TRUE(news.has_value()) << "the server has DAMAGE and XInput 2";
    const auto still = [&] {
        const auto changes = capturer->changes();
        return !changes.picture && !changes.cursor && !capturer->newsPending();
    };
    ASSERT_TRUE(waitUntil(still));
    EXPECT_FALSE(readable(news->descriptor, std::chrono::milliseconds(0)));

    client.window(300, 300, 50, 50, 0x00ff00);
    ASSERT_TRUE(readable(news->descriptor, std::chrono::seconds(5)));
    EXPECT_TRUE(capturer->newsPending());
    EXPECT_TRUE(capturer->changes().picture);

    ASSERT_TRUE(waitUntil(still));
    client.movePointer(700, 400);
    ASSERT_TRUE(readable(news->descriptor, std::chrono::seconds(5)));
    EXPECT_TRUE(capturer->newsPending());
    EXPECT_TRUE(capturer->changes().cursor);
}

TEST(X11StreamerTest, AnUnknownIdStreamsThePrimaryAndRemovingTheCapturedMonitorEndsTheStream) {
    PrivateXServer server(3840, 1080);
    ASSERT_TRUE(server.ok() && twoMonitors(server));
    TestClient client;
    auto encoder = std::make_shared<VideoEncoder>();
    testing::StreamRecord record(*encoder);
    auto streamer = ScreenStreamer::create(encoder, [] { return x11::makeX11Capturer(); });
    testing::StreamEnd ended(*streamer);
    EXPECT_EQ(testing::startAndWait(*streamer, 12345), std::nullopt);
    EXPECT_EQ(streamer->capturedDisplay(), client.atom("L"));
    ASSERT_TRUE(waitUntil([&] { return record.shape().starts_with("CK"); })) << record.shape();

    EXPECT_EQ(testing::startAndWait(*streamer, client.atom("R")), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record.shape().find("CK", 2) != std::string::npos; })) << record.shape();
    ASSERT_TRUE(server.run("xrandr --delmonitor R"));
    EXPECT_EQ(ended.kind(), CaptureError::Kind::displayGone);
    testing::stopAndWait(*streamer);
}

}  // namespace
}  // namespace vantrel
