// The connection owner against X servers of the tests' own: every user of a shared connection gets
// its own events whoever reads them, a refused request comes back as a reason, a connection the
// server dropped is replaced for all its users, and the pointer is read only when it may have moved.
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "Backends/x11/X11Connection.hpp"
#include "Backends/x11/X11Displays.hpp"
#include "Backends/x11/X11SessionChecks.hpp"
#include "Backends/x11/tests/PrivateXServer.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::x11 {
namespace {

using namespace std::chrono_literals;

// Another application on the display.
class OtherClient {
public:
    OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {}
    [[nodiscard]] xcb_connection_t* get() const { return connection_.get(); }
    [[nodiscard]] xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(get())).data->root; }
    // Waits until the server has done every request sent so far.
    void sync() const { std::free(xcb_get_input_focus_reply(get(), xcb_get_input_focus(get()), nullptr)); }

private:
    XcbConnection connection_;
};

TEST(X11ConnectionTest, EveryUserGetsItsOwnEventsWhoeverReadsThem) {
    testing::PrivateXServer server(640, 480);
    ASSERT_TRUE(server.ok());
    const auto connection = X11Connection::open("test");
    ASSERT_TRUE(connection);
    // Two users of one connection, each with its own kind of event on the root window.
    std::vector<std::uint8_t> messages;
    int propertyChanges = 0;
    auto messagesUser = connection->subscribe(XCB_CLIENT_MESSAGE, [&](const xcb_generic_event_t& event) {
        messages.push_back(reinterpret_cast<const xcb_client_message_event_t&>(event).data.data8[0]);
    });
    auto propertiesUser =
        connection->subscribe(XCB_PROPERTY_NOTIFY, [&](const xcb_generic_event_t&) { ++propertyChanges; });
    connection->selectRootEvents(XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    connection->selectRootEvents(XCB_EVENT_MASK_PROPERTY_CHANGE);

    OtherClient other;
    const auto message = [&](std::uint8_t value) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = other.root();
        event.type = XCB_ATOM_STRING;
        event.data.data8[0] = value;
        xcb_send_event(other.get(), 0, other.root(), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    };
    message(1);
    const std::uint8_t name[] = {'x'};
    xcb_change_property(other.get(), XCB_PROP_MODE_REPLACE, other.root(), XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 1,
                        name);
    other.sync();

    // The properties' user waits for its news; the messages' user gets its own on the way.
    EXPECT_TRUE(connection->dispatchUntil(5s, [&] { return propertyChanges == 1; }));
    EXPECT_TRUE(connection->dispatchUntil(5s, [&] { return !messages.empty(); }))
        << "the second root selection must not replace the first";
    EXPECT_EQ(messages, std::vector<std::uint8_t>{1});

    messagesUser.end();
    message(2);
    other.sync();
    xcb_change_property(other.get(), XCB_PROP_MODE_REPLACE, other.root(), XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 1,
                        name);
    other.sync();
    EXPECT_TRUE(connection->dispatchUntil(5s, [&] { return propertyChanges == 2; }));
    EXPECT_EQ(messages, std::vector<std::uint8_t>{1}) << "an ended subscription hears nothing more";

    EXPECT_TRUE(connection->check(xcb_map_window_checked(connection->get(), connection->root()), "test: root"));
    EXPECT_FALSE(connection->check(xcb_map_window_checked(connection->get(), 0x7ffffff), "test: no such window"));
    EXPECT_FALSE(connection->broken());
}

TEST(SharedConnectionTest, AConnectionTheServerDroppedIsReplacedForEveryUser) {
    testing::PrivateXServer server(1920, 1080);
    ASSERT_TRUE(server.ok());
    const auto shared = std::make_shared<SharedConnection>();
    const auto displays = makeX11Displays(shared);
    ASSERT_TRUE(displays);
    X11SessionChecks checks(shared);
    ASSERT_EQ(displays->list().size(), 1U);
    ASSERT_TRUE(checks.screenReadable());

    // Another client has the server drop the shared connection, through a window it owns.
    const auto first = shared->current();
    const xcb_window_t window = xcb_generate_id(first->get());
    xcb_create_window(first->get(), XCB_COPY_FROM_PARENT, window, first->root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    ASSERT_TRUE(first->check(xcb_map_window_checked(first->get(), window), "test: the window"));
    OtherClient other;
    xcb_kill_client(other.get(), window);
    other.sync();
    ASSERT_TRUE(vantrel::testing::waitUntil([&] {
        std::free(xcb_get_input_focus_reply(first->get(), xcb_get_input_focus(first->get()), nullptr));
        return first->broken();
    }));

    EXPECT_TRUE(displays->list().empty()) << "the displays do not open the connection again themselves";
    EXPECT_TRUE(checks.screenReadable()) << "the session checks do";
    EXPECT_NE(shared->current(), first);
    EXPECT_EQ(displays->list().size(), 1U) << "and the displays read through the new connection";
}

// The pointer's place, asked 20 times a second while it moves: read from the server after it
// reported device motion, else at least every so often (a warp moves the pointer without any),
// so that a still pointer costs no round trip.
TEST(X11SessionChecksTest, ThePointerIsReadAgainAfterMotionAndNowAndThenWithout) {
    testing::PrivateXServer server(1920, 1080);
    ASSERT_TRUE(server.ok());
    constexpr auto askAtLeastEvery = std::chrono::milliseconds(500);
    X11SessionChecks checks(std::make_shared<SharedConnection>(), askAtLeastEvery);
    OtherClient other;
    xcb_warp_pointer(other.get(), XCB_NONE, other.root(), 0, 0, 0, 0, 100, 100);
    other.sync();
    EXPECT_EQ(checks.pointerLocation(), (Point{100, 100}));

    // A warp is no device motion: the place read before stands, for a while.
    xcb_warp_pointer(other.get(), XCB_NONE, other.root(), 0, 0, 0, 0, 300, 200);
    other.sync();
    EXPECT_EQ(checks.pointerLocation(), (Point{100, 100}));
    EXPECT_TRUE(vantrel::testing::waitUntil([&] {
        return checks.pointerLocation() == Point{300, 200};
    })) << "read again after "
        << askAtLeastEvery.count() << " ms";

    // Motion as a device or the phone's injector makes it (XTest) is read at once (the event may
    // still be on its way for a question or two), long before the place would be read anyway.
    xcb_test_fake_input(other.get(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, other.root(), 640, 480, 0);
    other.sync();
    bool seen = false;
    for (int answer = 0; answer < 5 && !seen; ++answer) {
        seen = checks.pointerLocation() == Point{640, 480};
    }
    EXPECT_TRUE(seen) << "the motion was not noticed";
}

// While the pointer stands still the host rests on the connection: its descriptor turns readable
// with the next motion, and the next answer reads the new place.
TEST(X11SessionChecksTest, MotionWakesAHostRestingOnThePointerNews) {
    testing::PrivateXServer server(1920, 1080);
    ASSERT_TRUE(server.ok());
    X11SessionChecks checks(std::make_shared<SharedConnection>(), std::chrono::seconds(10));
    OtherClient other;
    xcb_warp_pointer(other.get(), XCB_NONE, other.root(), 0, 0, 0, 0, 100, 100);
    other.sync();
    ASSERT_EQ(checks.pointerLocation(), (Point{100, 100}));
    const auto news = checks.pointerNews();
    ASSERT_TRUE(news);
    EXPECT_EQ(news->atLeastEvery, std::chrono::seconds(10));
    pollfd readable{news->descriptor, POLLIN, 0};
    EXPECT_EQ(poll(&readable, 1, 200), 0) << "a still pointer sends no news";

    xcb_test_fake_input(other.get(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, other.root(), 640, 480, 0);
    other.sync();
    EXPECT_EQ(poll(&readable, 1, 5000), 1) << "motion is news";
    EXPECT_EQ(checks.pointerLocation(), (Point{640, 480}));
}

}  // namespace
}  // namespace vantrel::x11
