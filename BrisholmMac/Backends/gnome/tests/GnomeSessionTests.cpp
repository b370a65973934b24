// The GNOME backend against a headless GNOME compositor of the tests' own (PrivateMutter): the
// choice of backend, the displays, frames of what a client drew, and typing into a terminal.
#include <gio/gio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "Backends/SessionBackend.hpp"
#include "Backends/gnome/GnomeBackend.hpp"
#include "Backends/gnome/GnomeInput.hpp"
#include "Backends/gnome/PipeWireCapturer.hpp"
#include "Backends/gnome/RemoteSession.hpp"
#include "Capture/Displays.hpp"
#include "Capture/ScreenCapturer.hpp"
#include "Input/InputDevice.hpp"
#include "Input/InputInjector.hpp"
#include "Platform/FakeCredentialStore.hpp"
#include "Platform/SessionChecks.hpp"
#include "Platform/WindowList.hpp"
#include "PrivateMutter.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::PrivateMutter;
using testing::waitUntil;

// foot's background in the tests, as BGRx bytes in a frame.
constexpr std::uint8_t red = 0x33;
constexpr std::uint8_t green = 0x66;
constexpr std::uint8_t blue = 0x99;

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool showsFootAt(const PixelBuffer& frame, std::int32_t x, std::int32_t y) {
    const auto pixel = frame.row(y).subspan(static_cast<std::size_t>(x) * 4, 4);
    return pixel[0] == blue && pixel[1] == green && pixel[2] == red;
}

class GnomeSessionTest : public ::testing::Test {
protected:
    // Starts the compositor; false when it cannot (the test then skips, saying why).
    bool start(const PrivateMutter::Options& options) {
        mutter_.emplace(options);
        return !mutter_->failure();
    }
    [[nodiscard]] std::string why() const { return "no headless GNOME compositor: " + *mutter_->failure(); }

    // A terminal filling the screen in the tests' colour, running command.
    pid_t terminal(const std::string& command) {
        return mutter_->launch({"foot", "--fullscreen", "--override=colors.background=336699",
                                "--override=main.font=monospace:size=8", "sh", "-c", command});
    }

    // A terminal that writes what it receives to a file, in front once a phone of the backend has
    // seen it (that phone then leaves); the file's path, empty when the terminal never showed.
    std::string typingTerminal(const DesktopBackend& backend) {
        const std::string file = mutter_->directory() + "/typed.txt";
        terminal("cat > " + file);
        auto capturer = backend.makeCapturer();
        const Rect screen{0, 0, 1280, 720};
        if (!capturer || capturer->watch(screen, {1280, 720}) != CaptureStatus::ok ||
            !waitForTerminal(*capturer, screen)) {
            return {};
        }
        return file;
    }

    // Looks until a frame shows the terminal's colour in the middle of the monitor at bounds.
    static std::shared_ptr<const PixelBuffer> waitForTerminal(ScreenCapturer& capturer, const Rect& bounds) {
        std::shared_ptr<const PixelBuffer> frame;
        waitUntil(
            [&] {
                const auto changes = capturer.changes();
                if (changes.status != CaptureStatus::ok || (!changes.picture && frame)) {
                    return false;
                }
                const auto result = capturer.grab();
                frame = result.frame;
                return frame && showsFootAt(*frame, static_cast<std::int32_t>(bounds.width / 2),
                                            static_cast<std::int32_t>(bounds.height / 2));
            },
            15s);
        return frame && showsFootAt(*frame, static_cast<std::int32_t>(bounds.width / 2),
                                    static_cast<std::int32_t>(bounds.height / 2))
                   ? frame
                   : nullptr;
    }

    // The capturer's newest picture, copied (it lends out only three buffers).
    static std::vector<std::uint8_t> picture(ScreenCapturer& capturer) {
        std::vector<std::uint8_t> bytes;
        (void)capturer.changes();
        if (const auto frame = capturer.grab().frame) {
            for (std::int32_t y = 0; y < frame->height(); ++y) {
                bytes.insert(bytes.end(), frame->row(y).begin(), frame->row(y).end());
            }
        }
        return bytes;
    }

    // Looks until a picture is as wanted.
    static bool waitForPicture(ScreenCapturer& capturer,
                               const std::function<bool(const std::vector<std::uint8_t>&)>& wanted) {
        return waitUntil(
            [&] {
                const auto shown = picture(capturer);
                return !shown.empty() && wanted(shown);
            },
            15s);
    }

    std::optional<PrivateMutter> mutter_;
};

TEST_F(GnomeSessionTest, AGnomeSessionOnWaylandGetsTheBackendWithItsMonitorsAsDisplays) {
    if (!start({{"1280x720", "800x600"}, {}, {}})) {
        GTEST_SKIP() << why();
    }
    const auto facts = readSessionFacts();
    EXPECT_TRUE(facts.gnomeRemoteDesktop);
    ASSERT_EQ(chooseBackend(facts).kind, BackendKind::waylandGnome);

    const auto backend = makeGnomeBackend();
    EXPECT_EQ(backend.name, "wayland-gnome");
    ASSERT_TRUE(backend.displays);
    const auto displays = backend.displays->list();
    ASSERT_EQ(displays.size(), 2U);
    EXPECT_EQ(displays[0].name, "MetaVendor (Meta-0)");
    EXPECT_EQ(displays[0].width, 1280);
    EXPECT_EQ(displays[1].name, "MetaVendor (Meta-1)");
    EXPECT_EQ(displays[1].height, 600);
    const auto layout = backend.displays->layout();
    ASSERT_EQ(layout.size(), 2U);
    EXPECT_EQ(layout[1].bounds, (Rect{1280, 0, 800, 600}));

    EXPECT_TRUE(backend.checks->screenReadable());
    EXPECT_TRUE(backend.checks->offersSyntheticInput());
    EXPECT_FALSE(backend.checks->pointerLocation()) << "Wayland tells nobody where the pointer is";
    EXPECT_FALSE(backend.windows->windows()) << "no window list: the follower stays idle";
}

TEST_F(GnomeSessionTest, FramesShowWhatAClientDrewOnTheWatchedMonitor) {
    if (!start({{"1280x720", "640x480"}, {}, {}})) {
        GTEST_SKIP() << why();
    }
    const auto backend = makeGnomeBackend();
    terminal("sleep 60");
    auto capturer = backend.makeCapturer();
    ASSERT_TRUE(capturer);
    const auto monitors = capturer->monitors();
    ASSERT_EQ(monitors.size(), 2U);
    ASSERT_EQ(capturer->watch(monitors[0].bounds, {1280, 720}), CaptureStatus::ok);
    ASSERT_TRUE(capturer->news());
    const auto frame = waitForTerminal(*capturer, monitors[0].bounds);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width(), 1280);
    EXPECT_EQ(frame->height(), 720);
    EXPECT_TRUE(showsFootAt(*frame, 640, 360));

    // The other monitor, in a capturer of its own while the first lives (the same phone's session).
    auto second = backend.makeCapturer();
    ASSERT_TRUE(second);
    ASSERT_EQ(second->watch(monitors[1].bounds, {640, 480}), CaptureStatus::ok);
    const auto other = second->grab();
    ASSERT_EQ(other.status, CaptureStatus::ok);
    EXPECT_EQ(other.frame->width(), 640);
    EXPECT_FALSE(showsFootAt(*other.frame, 320, 240)) << "the terminal is on the first monitor only";
}

TEST_F(GnomeSessionTest, EveryPhoneGetsAFirstFrameOfAStillScreen) {
    if (!start({{"1280x720"}, {}, {}})) {
        GTEST_SKIP() << why();
    }
    const auto backend = makeGnomeBackend();
    // A phone watches a terminal flooded with text, and leaves; the flood ends.
    const auto flood = terminal("while :; do cat /usr/share/common-licenses/GPL-3; done");
    {
        auto capturer = backend.makeCapturer();
        ASSERT_TRUE(capturer);
        ASSERT_EQ(capturer->watch({0, 0, 1280, 720}, {1280, 720}), CaptureStatus::ok);
        ASSERT_TRUE(waitForTerminal(*capturer, {0, 0, 1280, 720}));
    }
    mutter_->end(flood);
    // Nothing changes on screen any more: each new phone's stream must still bring a picture.
    for (int phone = 0; phone < 4; ++phone) {
        auto capturer = backend.makeCapturer();
        ASSERT_TRUE(capturer);
        ASSERT_EQ(capturer->watch({0, 0, 1280, 720}, {1280, 720}), CaptureStatus::ok) << "phone " << phone;
        EXPECT_EQ(capturer->grab().status, CaptureStatus::ok);
    }
}

TEST_F(GnomeSessionTest, AMonitorSwitchedOffLeavesItsCapturerWithoutItsMonitor) {
    if (!start({{"1280x720", "800x600"}, {}, {}})) {
        GTEST_SKIP() << why();
    }
    const auto backend = makeGnomeBackend();
    auto capturer = backend.makeCapturer();
    ASSERT_TRUE(capturer);
    const auto monitors = capturer->monitors();
    ASSERT_EQ(monitors.size(), 2U);
    ASSERT_EQ(capturer->watch(monitors[1].bounds, {800, 600}), CaptureStatus::ok);
    ASSERT_EQ(capturer->grab().status, CaptureStatus::ok);

    // The layout with the first monitor alone, as the settings would apply it.
    const auto state = mutter_->run(
        "gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path "
        "/org/gnome/Mutter/DisplayConfig --method "
        "org.gnome.Mutter.DisplayConfig.GetCurrentState");
    const auto serial = std::stoul(state.substr(state.find("uint32 ") + 7));
    const auto applied = mutter_->run(
        "gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path "
        "/org/gnome/Mutter/DisplayConfig --method org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig " +
        std::to_string(serial) +
        " 1 \"[(0, 0, 1.0, 0, true, [(\\\"Meta-0\\\", \\\"1280x720@60.000\\\", @a{sv} {})])]\" \"{}\"");
    ASSERT_EQ(applied, "()\n");
    // The streamer hears of it from the capturer (a look at the monitors, or the stream's end)
    // and ends the stream as gone when the monitor is no longer listed.
    const bool gone = waitUntil(
        [&] {
            const auto changes = capturer->changes();
            if (changes.status == CaptureStatus::permanentError) {
                return true;
            }
            if (!changes.monitors) {
                return false;
            }
            const auto now = capturer->monitors();
            return now.size() == 1 && now[0].id == monitors[0].id;
        },
        10s);
    EXPECT_TRUE(gone);
}

TEST_F(GnomeSessionTest, TextTypedRightAfterConnectingArrivesExactly) {
    // No input source and no system keyboard set: the compositor and the backend both type with
    // the XKB defaults (us).
    if (!start({{"1280x720"}, {}, {}})) {
        GTEST_SKIP() << why();
    }
    const auto backend = makeGnomeBackend();
    const auto file = typingTerminal(backend);
    ASSERT_FALSE(file.empty()) << "the terminal never showed";
    // A new phone types at once: its session is new, and its first keys must not be lost.
    const auto device = backend.openInputDevice();
    ASSERT_TRUE(device);
    InputInjector injector(device, [] { return Rect{0, 0, 1280, 720}; });
    injector.handle(input::Text{"Typed at once: {Hello}, 1/2 & \"quotes\"; ~x_y@z!\n"});
    EXPECT_TRUE(waitUntil([&] { return fileText(file).find('\n') != std::string::npos; }, 10s));
    EXPECT_EQ(fileText(file), "Typed at once: {Hello}, 1/2 & \"quotes\"; ~x_y@z!\n");

    // Characters the layout lacks are pasted, each run in its place between the keys typed around
    // it (the compositor takes no keymap of ours).
    injector.handle(input::Text{"Grüße €5 ñ 日本語 😀!\n"});
    EXPECT_TRUE(waitUntil([&] { return fileText(file).ends_with("\nGrüße €5 ñ 日本語 😀!\n"); }, 10s)) << fileText(file);

    // Shift held by the phone when it leaves is let go: the next phone types small letters.
    injector.handle(input::Key{0x38, true, {}});
    injector.releaseAll();
    injector.handle(input::Text{"ab\n"});
    EXPECT_TRUE(waitUntil([&] { return fileText(file).ends_with("\nab\n"); }, 10s)) << fileText(file);
}

// GTK's fields ignore the terminals' paste chord and take the next one. The text the user copied is
// put back after each paste, and stays on the clipboard after the phone has left.
TEST_F(GnomeSessionTest, AGtkFieldTakesPastedTextAndTheClipboardKeepsWhatTheUserCopied) {
    if (!start({{"1280x720"}, {}, {}})) {
        GTEST_SKIP() << why();
    }
    const auto backend = makeGnomeBackend();
    auto capturer = backend.makeCapturer();
    ASSERT_TRUE(capturer);
    ASSERT_EQ(capturer->watch({0, 0, 1280, 720}, {1280, 720}), CaptureStatus::ok);
    const auto desktop = picture(*capturer);
    const auto device = backend.openInputDevice();
    ASSERT_TRUE(device);
    InputInjector injector(device, [] { return Rect{0, 0, 1280, 720}; });
    const auto chord = [&](std::uint16_t code, Modifiers modifiers) {
        injector.handle(input::Key{code, true, modifiers});
        injector.handle(input::Key{code, false, modifiers});
    };
    // One dialog at a time, with a text field that has the focus once it shows; it prints the
    // field's text when Return is pressed, and closes.
    const auto dialog = [&](const std::string& name, const std::string& options = {}) {
        const std::string file = mutter_->directory() + "/" + name + ".txt";
        EXPECT_TRUE(waitForPicture(*capturer, [&](const auto& shown) { return shown == desktop; }));
        mutter_->launch({"sh", "-c", "zenity --entry " + options + " > " + file});
        EXPECT_TRUE(waitForPicture(*capturer, [&](const auto& shown) { return shown != desktop; }))
            << "dialog " << name << " never showed";
        return file;
    };
    const auto copied = dialog("copied", "--entry-text=kept");
    chord(0x00, Modifiers::control);  // select all
    chord(0x08, Modifiers::control);  // and copy
    chord(0x24, {});
    ASSERT_TRUE(waitUntil([&] { return fileText(copied) == "kept\n"; }, 10s)) << fileText(copied);

    const auto typed = dialog("typed");
    injector.handle(input::Text{"Grüße € ñ 日本語 😀\n"});
    EXPECT_TRUE(waitUntil([&] { return fileText(typed) == "Grüße € ñ 日本語 😀\n"; }, 10s)) << fileText(typed);

    const auto pasted = dialog("pasted");
    chord(0x09, Modifiers::control);
    chord(0x24, {});
    EXPECT_TRUE(waitUntil([&] { return fileText(pasted) == "kept\n"; }, 10s)) << fileText(pasted);

    // The phone leaves, and with it the clipboard of its session: the compositor keeps the text.
    injector.releaseAll();
    const auto after = dialog("after");
    chord(0x09, Modifiers::control);
    chord(0x24, {});
    EXPECT_TRUE(waitUntil([&] { return fileText(after) == "kept\n"; }, 10s)) << fileText(after);
}

TEST_F(GnomeSessionTest, AClickFocusesTheWindowUnderThePointer) {
    if (!start({{"1280x720"}, {}, {}})) {
        GTEST_SKIP() << why();
    }
    const auto backend = makeGnomeBackend();
    const std::string behind = mutter_->directory() + "/behind.txt";
    const std::string front = mutter_->directory() + "/front.txt";
    // Two terminals of two colours; the later one has the focus.
    const auto window = [this](const std::string& colour, const std::string& file) {
        mutter_->launch({"foot", "--window-size-pixels=560x400", "--override=colors.background=" + colour, "sh", "-c",
                         "cat > " + file});
    };
    auto capturer = backend.makeCapturer();
    ASSERT_TRUE(capturer);
    ASSERT_EQ(capturer->watch({0, 0, 1280, 720}, {1280, 720}), CaptureStatus::ok);
    // Where a frame shows a colour (0xRRGGBB), looking at every eighth pixel.
    const auto find = [&](std::uint32_t colour) -> std::optional<Point> {
        std::optional<Point> found;
        waitUntil(
            [&] {
                (void)capturer->changes();
                const auto frame = capturer->grab().frame;
                for (std::int32_t y = 40; frame && y < frame->height() - 40 && !found; y += 8) {
                    for (std::int32_t x = 40; x < frame->width() - 40 && !found; x += 8) {
                        const auto pixel = frame->row(y).subspan(static_cast<std::size_t>(x) * 4, 3);
                        const std::uint32_t bgr = pixel[0] | (pixel[1] << 8U) | (pixel[2] << 16U);
                        if (bgr == colour) {
                            found = Point{static_cast<double>(x), static_cast<double>(y)};
                        }
                    }
                }
                return found.has_value();
            },
            15s);
        return found;
    };
    window("aa2222", behind);
    ASSERT_TRUE(find(0xaa2222)) << "the first terminal never showed";
    window("22aa22", front);
    ASSERT_TRUE(find(0x22aa22)) << "the second terminal never showed";
    const auto target = find(0xaa2222);
    ASSERT_TRUE(target) << "the first terminal is hidden entirely";

    const auto device = backend.openInputDevice();
    ASSERT_TRUE(device);
    InputInjector injector(device, [] { return Rect{0, 0, 1280, 720}; });
    injector.handle(input::PointerMoveAbsolute{target->x / 1280, target->y / 720});
    injector.handle(input::Button{MouseButton::left, true});
    injector.handle(input::Button{MouseButton::left, false});
    injector.handle(input::Text{"clicked\n"});
    EXPECT_TRUE(waitUntil([&] { return fileText(behind) == "clicked\n"; }, 10s))
        << "behind: '" << fileText(behind) << "', front: '" << fileText(front) << "'";
}

TEST_F(GnomeSessionTest, TheWheelScrollsATerminalBackAndForth) {
    if (!start({{"1280x720"}, {}, {}})) {
        GTEST_SKIP() << why();
    }
    const auto backend = makeGnomeBackend();
    // A terminal at the end of a long output: only scrolling up can move it.
    terminal("seq 1 2000; sleep 60");
    auto capturer = backend.makeCapturer();
    ASSERT_TRUE(capturer);
    ASSERT_EQ(capturer->watch({0, 0, 1280, 720}, {1280, 720}), CaptureStatus::ok);
    ASSERT_TRUE(waitForTerminal(*capturer, {0, 0, 1280, 720}));
    // The newest picture once the screen has been still for a while, copied: the capturer lends
    // out only three buffers.
    const auto settled = [&] {
        std::vector<std::uint8_t> last;
        const auto keep = [&last](const std::shared_ptr<const PixelBuffer>& frame) {
            if (frame) {
                last.clear();
                for (std::int32_t y = 0; y < frame->height(); ++y) {
                    last.insert(last.end(), frame->row(y).begin(), frame->row(y).end());
                }
            }
        };
        keep(capturer->grab().frame);
        auto stillSince = std::chrono::steady_clock::now();
        waitUntil(
            [&] {
                if (capturer->changes().picture) {
                    keep(capturer->grab().frame);
                    stillSince = std::chrono::steady_clock::now();
                }
                return std::chrono::steady_clock::now() - stillSince > 500ms;
            },
            10s);
        return last;
    };
    const auto device = backend.openInputDevice();
    ASSERT_TRUE(device);
    InputInjector injector(device, [] { return Rect{0, 0, 1280, 720}; });
    injector.handle(input::PointerMoveAbsolute{0.5, 0.5});  // the pointer is in every picture below
    const auto bottom = settled();
    ASSERT_FALSE(bottom.empty());
    injector.handle(input::Scroll{0, 3 * InputInjector::pixelsPerWheelClick});  // three clicks up
    EXPECT_TRUE(settled() != bottom) << "scrolling up did not move the terminal";
    injector.handle(input::Scroll{0, -3 * InputInjector::pixelsPerWheelClick});
    EXPECT_TRUE(settled() == bottom) << "as many clicks down bring the end back";
}

TEST_F(GnomeSessionTest, TextArrivesExactlyOnTheSystemsGermanKeyboard) {
    // Without GNOME's shell the compositor types with the system's keyboard; so does the backend.
    if (!start({{"1280x720"}, {}, "de"})) {
        GTEST_SKIP() << why();
    }
    const auto backend = makeGnomeBackend();
    const auto file = typingTerminal(backend);
    ASSERT_FALSE(file.empty()) << "the terminal never showed";
    const auto device = backend.openInputDevice();
    ASSERT_TRUE(device);
    InputInjector injector(device, [] { return Rect{0, 0, 1280, 720}; });
    // ñ, the CJK characters and the emoji are not on the layout: they are pasted.
    injector.handle(input::Text{"Grüße aus Köln: 3 € für 1/2 Maß, ñ 日本語 😀 yz@{}\\|~\n"});
    EXPECT_TRUE(waitUntil([&] { return fileText(file).find('\n') != std::string::npos; }, 10s));
    EXPECT_EQ(fileText(file), "Grüße aus Köln: 3 € für 1/2 Maß, ñ 日本語 😀 yz@{}\\|~\n");
}

TEST_F(GnomeSessionTest, KeysFollowTheLayoutOfGnomesInputSources) {
    if (!start({{"1280x720"}, "de", {}})) {
        GTEST_SKIP() << why();
    }
    const auto device = makeGnomeBackend().openInputDevice();
    ASSERT_TRUE(device);
    // On a German keyboard Z sits where Y is on an American one, and ü has a key of its own.
    const auto z = device->strokeForCharacter(U'z');
    ASSERT_TRUE(z);
    EXPECT_EQ(z->keycode, device->keycodeForKeyName("AD06"));
    const auto u = device->strokeForCharacter(U'ü');
    ASSERT_TRUE(u);
    EXPECT_EQ(u->keycode, device->keycodeForKeyName("AD11"));
    EXPECT_TRUE(device->spareKeycodes().empty()) << "the compositor's keymap cannot be changed from here";

    // The desk switches to French between two phones: the next phone types with it.
    std::ofstream(mutter_->directory() + "/config/glib-2.0/settings/keyfile")
        << "[org/gnome/desktop/input-sources]\nsources=[('xkb', 'fr')]\n";
    EXPECT_TRUE(waitUntil(
        [&] {
            g_main_context_iteration(nullptr, FALSE);  // the settings hear of the change
            device->sessionOver();
            const auto a = device->strokeForCharacter(U'a');
            return a && a->keycode == device->keycodeForKeyName("AD01");
        },
        10s))
        << "A is still not where it is on a French keyboard";
}

namespace {

// Whether the watcher sends a frame within timeout: the compositor painted something.
bool painted(ScreenCapturer& watcher, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return watcher.changes().picture; }, timeout);
}

// A click as a person makes it, through a remote desktop session of the compositor's own: GTK 4
// takes a press only where it has seen the pointer arrive, so each step waits until the compositor
// has painted the one before (the pointer is drawn into the watcher's frames).
void click(gnome::RemoteSession& hands, ScreenCapturer& watcher, Point at) {
    constexpr std::int32_t buttonLeft = 0x110;
    hands.movePointer(at);
    hands.flush();
    painted(watcher, 1s);
    hands.pressButton(buttonLeft, true);
    hands.flush();
    painted(watcher, 300ms);
    hands.pressButton(buttonLeft, false);
    hands.flush();
    painted(watcher, 300ms);
}

}  // namespace

TEST_F(GnomeSessionTest, ThePortalAsksOnceAndTheKeptApprovalStartsTheNextPhoneWithNoDialog) {
    PrivateMutter::Options options{{"1280x720"}, {}, {}};
    options.portal = true;
    if (!start(options)) {
        GTEST_SKIP() << why();
    }
    // The backend's portal form says in the panel what the user must approve at the computer.
    const auto backend = makeGnomeBackend(GnomeRoute::portal);
    EXPECT_EQ(backend.name, "wayland-gnome-portal");
    EXPECT_NE(backend.noFollowingReason.find("Bildschirmfreigabe bestätigen"), std::string::npos);
    EXPECT_TRUE(backend.checks->screenReadable());
    EXPECT_TRUE(backend.checks->offersSyntheticInput());
    EXPECT_FALSE(readSessionFacts().portalRemoteDesktop) << "GNOME's own services, which ask nobody, come first";

    const Rect screen{0, 0, 1280, 720};
    const std::string file = mutter_->directory() + "/typed.txt";
    terminal("cat > " + file);
    auto keyring = std::make_shared<testing::FakeCredentialStore>();
    const auto tokens = std::make_shared<gnome::RestoreTokens>(keyring);
    const auto portalBroker = [&](bool input) {
        gnome::SessionBroker::Options brokerOptions;
        brokerOptions.portal = true;
        brokerOptions.portalOptions = {tokens, input, 60s};
        return std::make_shared<gnome::SessionBroker>(brokerOptions);
    };

    // The test's own hands and eyes: the compositor's remote desktop, which asks nobody.
    const auto own = std::make_shared<gnome::SessionBroker>();
    auto watcher = gnome::makePipeWireCapturer(own);
    ASSERT_TRUE(watcher);
    ASSERT_EQ(watcher->watch(screen, {1280, 720}), CaptureStatus::ok);
    std::string error;
    const auto hands = own->acquire(error);
    ASSERT_TRUE(hands) << error;
    ASSERT_TRUE(waitForTerminal(*watcher, screen));

    // The first phone: the portal shows its dialog, which the test approves as a user would.
    std::unique_ptr<ScreenCapturer> first;
    std::atomic<bool> answered{false};
    const auto firstBroker = portalBroker(false);
    std::thread phone([&] {
        first = gnome::makePipeWireCapturer(firstBroker);
        answered = true;
    });
    const auto dialogShown = [&] {
        const auto result = watcher->grab();
        return result.frame && !showsFootAt(*result.frame, 640, 385) && !showsFootAt(*result.frame, 852, 232);
    };
    int clicked = 0;
    for (int attempt = 0; attempt < 5 && !answered; ++attempt) {
        const auto drawn = [&] {
            (void)watcher->changes();
            return answered || dialogShown();
        };
        if (!waitUntil(drawn, 20s) || answered) {
            break;
        }
        // The phone's input device, on the main thread, does not wait for the user.
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_FALSE(firstBroker->acquire(error, {}, gnome::SessionBroker::Asker::input));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
        click(*hands, *watcher, {640, 385});  // the monitor's row
        click(*hands, *watcher, {852, 232});  // "Share"
        ++clicked;
        waitUntil([&] { return answered.load(); }, 3s);
    }
    phone.join();
    ASSERT_TRUE(first) << "the dialog was not approved; see the portal's log in " << mutter_->directory();
    EXPECT_GT(clicked, 0) << "the first phone brings up the dialog";
    ASSERT_FALSE(keyring->items.empty()) << "the approval is kept";
    EXPECT_FALSE(keyring->items.front().empty());
    EXPECT_EQ(keyring->replacements, 1);
    ASSERT_EQ(first->watch(screen, {1280, 720}), CaptureStatus::ok);
    EXPECT_TRUE(waitForTerminal(*first, screen)) << "the portal's stream shows the desktop";
    first.reset();

    // The next phone shows the kept approval: no dialog (nobody clicks), and the picture comes.
    const auto begun = std::chrono::steady_clock::now();
    const auto broker = portalBroker(true);
    auto second = gnome::makePipeWireCapturer(broker);
    ASSERT_TRUE(second);
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 10s) << "a dialog would have waited for a click";
    ASSERT_EQ(second->watch(screen, {1280, 720}), CaptureStatus::ok);
    // The middle is soon covered by the dialog for remote control, so the terminal is looked for
    // near the corner.
    EXPECT_TRUE(waitForTerminal(*second, {0, 0, 200, 200}));
    ASSERT_FALSE(keyring->items.empty());
    EXPECT_FALSE(keyring->items.front().empty());
    EXPECT_EQ(keyring->replacements, 2) << "the token this start handed out replaces the one it used";

    // Its input waits for remote control, which the portal asks for at each phone: the test turns
    // the dialog's switch for remote interaction on (once: a second click would turn it off), then
    // shares.
    const auto device = gnome::openGnomeInputDevice(broker);
    ASSERT_TRUE(device);
    InputInjector injector(device, [] { return Rect{0, 0, 1280, 720}; });
    const auto session = broker->acquire(error, {}, gnome::SessionBroker::Asker::input);
    ASSERT_TRUE(session) << error;
    EXPECT_FALSE(session->movePointer({640, 360})) << "input before the user allowed it goes nowhere";
    const auto switchedOn = [&] {
        const auto result = watcher->grab();
        const auto pixel = result.frame->row(432).subspan(815 * 4, 4);  // the switch's left end
        return pixel[0] > pixel[2] + 60;                                // blue, not the white knob
    };
    const auto allowed = [&] { return session->movePointer({640, 360}); };
    for (int attempt = 0; attempt < 5 && !allowed(); ++attempt) {
        const auto drawn = [&] {
            (void)watcher->changes();
            return allowed() || dialogShown();
        };
        if (!waitUntil(drawn, 20s) || allowed()) {
            break;
        }
        if (!switchedOn()) {
            click(*hands, *watcher, {830, 432});  // "Allow remote interaction"
        }
        if (switchedOn()) {
            click(*hands, *watcher, {852, 232});  // "Share"
        }
        waitUntil(allowed, 3s);
    }
    ASSERT_TRUE(allowed()) << "remote control was not allowed; see the portal's log in " << mutter_->directory();
    injector.handle(input::Text{"Through the portal: {ok}\n"});
    EXPECT_TRUE(waitUntil([&] { return fileText(file).find('\n') != std::string::npos; }, 10s));
    EXPECT_EQ(fileText(file), "Through the portal: {ok}\n");
}

}  // namespace
}  // namespace vantrel
