// The desktop host over fakes of everything below it: the recording server in memory, a fake
// desktop session (monitors, a screen behind the real streamer and encoder, a recording input
// device under the real injector, windows, keep-awake), a fake keyring. The main queue is the
// server's manual queue, run by the test itself: no event loop of any toolkit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "App/DesktopHost.hpp"
#include "Capture/VideoEncoder.hpp"
#include "FakeCredentialStore.hpp"
#include "FakeDesktopSession.hpp"
#include "Host/MainQueue.hpp"
#include "RecordingServer.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::RecordingServer;

// Two small monitors side by side, left one primary.
std::vector<MonitorFacts> twoMonitors() {
    return {testing::fakeMonitor(11, true, Rect{0, 0, 320, 180}),
            testing::fakeMonitor(22, false, Rect{320, 0, 320, 180})};
}

class DesktopHostRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        desktop.setMonitors(twoMonitors());
        desktop.screen->update([](testing::FakeScreen& fake) { fake.changing = true; });
        model = DesktopHost::create(services());
        if (waitForPort) {
            pumpUntil([&] { return model->port().has_value(); });
        }
    }

    // The fakes above as the host's surroundings; tests change pieces before restarting.
    DesktopHost::Services services() {
        DesktopHost::Services services;
        services.main = MainQueue::on(server.queue());
        services.server = server.server;
        services.encoder = std::make_shared<VideoEncoder>();
        services.backend = desktop.backend();
        services.keys = std::make_shared<KeyStore>(credentials);
        services.addresses = [this] { return addresses; };
        services.hostName = [] { return std::string("Werkbank"); };
        services.uptimeSeconds = [] { return 100.0; };
        services.loadFollowWindows = [this] { return savedFollow.value_or(true); };
        services.saveFollowWindows = [this](bool follow) { savedFollow = follow; };
        return services;
    }

    // A host made afresh with these surroundings, listening.
    void restartWith(DesktopHost::Services changed) {
        model.reset();
        server.run();
        model = DesktopHost::create(std::move(changed));
        ASSERT_TRUE(pumpUntil([&] { return model->port().has_value(); }));
    }

    void TearDown() override {
        model.reset();
        server.run();
    }

    // Runs the main queue (which is the server's) until condition holds.
    bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
        return server.queue()->runUntil(condition, timeout);
    }

    std::unique_ptr<testing::Phone> connectedPhone() {
        auto phone = server.connect();
        phone->hello("Pixel");
        EXPECT_TRUE(
            pumpUntil([&] { return model->clientName().has_value() && phone->count(MessageType::videoFrame) > 0; }));
        return phone;
    }

    RecordingServer server;
    testing::FakeDesktopSession desktop;
    std::shared_ptr<testing::FakeScreen> screen = desktop.screen;
    std::shared_ptr<FakeDisplays> displays = desktop.displays;
    std::shared_ptr<testing::FakeInputDevice> device = desktop.device;
    std::shared_ptr<testing::CountingKeepAwake> keepAwake = desktop.keepAwake;
    std::shared_ptr<testing::FakeCredentialStore> credentials = std::make_shared<testing::FakeCredentialStore>();
    std::vector<std::string> addresses{"192.168.1.20"};
    std::optional<bool> savedFollow;
    bool waitForPort = true;
    std::shared_ptr<DesktopHost> model;
};

TEST_F(DesktopHostRulesTest, StartsSharingOnItsPortWithAStoredKeyAndALink) {
    // The preferred port, or the fallback when another host on this machine has it.
    ASSERT_TRUE(model->port().has_value());
    EXPECT_EQ(model->pairingKey().origin, PairingKey::Origin::created);
    const auto link = PairingInfo::fromURL(model->pairingURL().value_or(""));
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(*link, (PairingInfo{"Werkbank", *model->port(), {"192.168.1.20"}, model->pairingKey().key}));
    EXPECT_EQ(model->displays().size(), 2u);
    EXPECT_EQ(model->activeDisplay(), 11u);
    EXPECT_TRUE(model->followWindows()) << "on when never set";
}

// A phone arrives: the pointer comes onto the streamed display, capture starts with a key frame,
// the display is kept awake once; it leaves: input released, capture and keep-awake ended.
TEST_F(DesktopHostRulesTest, APhoneArrivingAndLeaving) {
    device->pointer = Point{500, 90};  // on the other display
    auto phone = connectedPhone();
    EXPECT_EQ(model->clientName(), "Pixel");
    EXPECT_EQ(device->pointer, (Point{160, 90}));
    EXPECT_EQ(keepAwake->holds, 1);
    EXPECT_EQ(keepAwake->lastReason, DesktopHost::keepAwakeReason);
    EXPECT_EQ(phone->count(MessageType::apps), 1u);
    EXPECT_TRUE(VideoFrame::decode(phone->ofType(MessageType::videoFrame).front())->isKeyframe);
    EXPECT_FALSE(model->captureError().has_value());
    EXPECT_TRUE(pumpUntil([&] { return phone->count(MessageType::pointer) > 0; })) << "the pointer is reported";

    phone->leave();
    ASSERT_TRUE(pumpUntil([&] { return !model->clientName().has_value(); }));
    EXPECT_EQ(keepAwake->releases, 1);
    EXPECT_FALSE(server.status().hasClient);
}

// The phone's choice of display, the same display again, and an unknown one.
TEST_F(DesktopHostRulesTest, ThePhoneChoosesTheOtherDisplay) {
    auto phone = connectedPhone();
    const auto configs = phone->count(MessageType::videoConfig);
    phone->sendJSON(MessageType::selectDisplay, SelectDisplay{11});  // already shown: nothing
    phone->sendJSON(MessageType::selectDisplay, SelectDisplay{99});  // unknown: nothing
    phone->sendJSON(MessageType::selectDisplay, SelectDisplay{22});
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::welcome) == 2; }));
    EXPECT_EQ(phone->last<Welcome>(MessageType::welcome)->activeDisplay, 22u);
    EXPECT_EQ(model->activeDisplay(), 22u);
    EXPECT_TRUE(pumpUntil([&] { return phone->count(MessageType::videoConfig) > configs; }));
    EXPECT_EQ(device->pointer, (Point{480, 90})) << "the pointer follows to the chosen display";
}

// Every 3 seconds: control granted later republishes the welcome; the streamed display unplugged
// falls back to the main one, on the phone too.
TEST_F(DesktopHostRulesTest, RefreshFollowsPermissionsAndDisplays) {
    desktop.checks->synthetic = false;
    model->refresh();
    auto phone = connectedPhone();
    EXPECT_FALSE(phone->last<Welcome>(MessageType::welcome)->canControl);
    desktop.checks->synthetic = true;
    model->refresh();
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::welcome) == 2; }));
    EXPECT_TRUE(phone->last<Welcome>(MessageType::welcome)->canControl);

    model->select(22);
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::welcome) == 3; }));
    displays->facts = {twoMonitors().front()};
    model->refresh();
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::welcome) == 4; }));
    const auto welcome = *phone->last<Welcome>(MessageType::welcome);
    EXPECT_EQ(welcome.activeDisplay, 11u);
    EXPECT_EQ(welcome.displays.size(), 1u);
    EXPECT_EQ(model->activeDisplay(), 11u);
}

// Sharing off withdraws the link; a new key drops the phone and changes the link.
TEST_F(DesktopHostRulesTest, SharingAndANewKey) {
    auto phone = connectedPhone();
    const auto oldLink = *model->pairingURL();
    model->rotateKey();
    ASSERT_TRUE(pumpUntil([&] { return phone->isClosed() && model->port().has_value(); }));
    EXPECT_EQ(model->pairingRevision(), 1);
    EXPECT_NE(*model->pairingURL(), oldLink);
    EXPECT_FALSE(model->clientName().has_value());

    model->setSharingEnabled(false);
    EXPECT_FALSE(model->port().has_value());
    EXPECT_FALSE(model->pairingURL().has_value());
    model->setSharingEnabled(true);
    EXPECT_TRUE(pumpUntil([&] { return model->port().has_value(); }));

    model->setFollowWindows(false);
    EXPECT_EQ(savedFollow, false);
}

// Following new windows, on a session whose windows the host sees and on one that hides them.
class DesktopHostFollowingTest : public DesktopHostRulesTest {
protected:
    // An editor comes to the front with a new window on the right display.
    void openWindowOnTheRight() const {
        windows->onScreen = std::vector<WindowList::Window>{{5, 4242, Rect{340, 20, 200, 120}}};
        windows->front = {4242, std::string("org.example.Editor")};
    }

    std::shared_ptr<testing::FakeWindowList> windows = desktop.windows;
};

TEST_F(DesktopHostFollowingTest, ANewWindowOnTheOtherDisplayTakesTheStreamThere) {
    EXPECT_TRUE(model->canFollowWindows());
    auto phone = connectedPhone();
    ASSERT_TRUE(pumpUntil([&] { return windows->reads > 0; })) << "the follower has seen the desktop";
    openWindowOnTheRight();
    ASSERT_TRUE(pumpUntil([&] { return model->activeDisplay() == 22u; }));
    EXPECT_EQ(device->pointer, (Point{440, 80})) << "the pointer goes to the new window";
}

// GNOME on Wayland: the follower never reads the list, the switch is off whatever was kept, and
// switching it on changes neither the state nor the choice kept for other sessions.
TEST_F(DesktopHostFollowingTest, ASessionThatHidesWindowsNeverFollows) {
    desktop.followsWindows = false;
    desktop.noFollowingReason = "Hier nicht.";
    savedFollow = true;
    restartWith(services());
    EXPECT_FALSE(model->canFollowWindows());
    EXPECT_EQ(model->noFollowingReason(), "Hier nicht.");
    EXPECT_FALSE(model->followWindows());
    model->setFollowWindows(false);
    model->setFollowWindows(true);
    EXPECT_FALSE(model->followWindows());
    EXPECT_EQ(savedFollow, true);

    auto phone = connectedPhone();
    openWindowOnTheRight();
    // The pointer reports are the clock: one at most every 50 ms, so a dozen moved pointers take
    // longer than the window check's 400 ms.
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::pointer) > 0; }));
    for (int move = 1; move <= 12; ++move) {
        const auto reports = phone->count(MessageType::pointer);
        device->pointer = Point{100.0 + move, 90};
        ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::pointer) > reports; }));
    }
    EXPECT_EQ(windows->reads, 0);
    EXPECT_EQ(model->activeDisplay(), 11u);
}

// The screen going away ends the stream: the menu says why and the phone is let go.
TEST_F(DesktopHostRulesTest, CaptureEndingByItselfLetsThePhoneGo) {
    auto phone = connectedPhone();
    screen->update([](testing::FakeScreen& fake) { fake.broken = true; });
    ASSERT_TRUE(pumpUntil([&] { return phone->isClosed(); }));
    EXPECT_TRUE(model->captureError().has_value());
    EXPECT_TRUE(pumpUntil([&] { return !model->clientName().has_value(); }));
    EXPECT_EQ(keepAwake->releases, 1);
}

// The same phone back after a Wi-Fi blip takes the place of its old connection: what the old one
// held is let go, so the new one's moves are not drags.
TEST_F(DesktopHostRulesTest, APhoneTakingAnotherOnesPlaceFindsNothingHeld) {
    auto first = connectedPhone();
    first->sendText(MessageType::input, R"({"button":{"button":"left","down":true}})");
    ASSERT_TRUE(pumpUntil(
        [&] { return std::find(device->log.begin(), device->log.end(), "button 1 down") != device->log.end(); }));
    device->take();
    auto second = connectedPhone();
    EXPECT_THAT(device->take(), ::testing::Contains("button 1 up"));
    EXPECT_EQ(keepAwake->holds, 1) << "held once across the change";
}

// The watched monitor unplugged: the phone stays and watches the main display, told by a new
// welcome and shown by a fresh key frame; no error stays on the panel.
TEST_F(DesktopHostRulesTest, UnpluggingTheWatchedMonitorKeepsThePhone) {
    auto phone = connectedPhone();
    model->select(22);
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::welcome) == 2; }));
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::videoConfig) >= 2; }));
    const auto frames = phone->count(MessageType::videoFrame);
    const auto configs = phone->count(MessageType::videoConfig);

    screen->update([](testing::FakeScreen& fake) { fake.monitors = {twoMonitors().front()}; });
    displays->facts = {twoMonitors().front()};
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::welcome) == 3; }));
    const auto welcome = *phone->last<Welcome>(MessageType::welcome);
    EXPECT_EQ(welcome.activeDisplay, 11u);
    EXPECT_EQ(welcome.displays.size(), 1u);
    ASSERT_TRUE(pumpUntil([&] {
        return phone->count(MessageType::videoConfig) > configs && phone->count(MessageType::videoFrame) > frames;
    }));
    const auto after = phone->ofType(MessageType::videoFrame);
    EXPECT_TRUE(std::any_of(after.begin() + static_cast<std::ptrdiff_t>(frames), after.end(),
                            [](const Bytes& frame) { return VideoFrame::decode(frame)->isKeyframe; }));
    EXPECT_FALSE(phone->isClosed());
    EXPECT_EQ(model->clientName(), "Pixel");
    EXPECT_EQ(model->activeDisplay(), 11u);
    EXPECT_FALSE(model->captureError().has_value());
}

// Control is promised only by a working injector; one that could not be made at start is tried
// again at each refresh. A watching phone still gets the pointer's place.
TEST_F(DesktopHostRulesTest, ControlIsOfferedOnceTheInjectorWorks) {
    desktop.deviceOpens = false;
    restartWith(services());  // the display takes synthetic input, the input device fails
    EXPECT_FALSE(model->hasAccessibility());

    device->pointer = Point{100, 50};
    auto phone = connectedPhone();
    EXPECT_FALSE(phone->last<Welcome>(MessageType::welcome)->canControl);
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::pointer) > 0; }))
        << "a watching phone sees the pointer";
    const auto pointer = *phone->last<PointerPosition>(MessageType::pointer);
    EXPECT_DOUBLE_EQ(pointer.x, 100.0 / 320);
    EXPECT_DOUBLE_EQ(pointer.y, 50.0 / 180);

    desktop.deviceOpens = true;
    model->refresh();
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::welcome) == 2; }));
    EXPECT_TRUE(phone->last<Welcome>(MessageType::welcome)->canControl);
    EXPECT_TRUE(model->hasAccessibility());
    phone->sendText(MessageType::input, R"({"pointerMoveAbsolute":{"x":0.5,"y":0.5}})");
    EXPECT_TRUE(pumpUntil([&] { return device->pointer == Point{160, 90}; })) << "the input now arrives";
}

// A renamed computer shows its new name on the phone and in the link at the next refresh.
TEST_F(DesktopHostRulesTest, ARenamedComputerIsShownByItsNewName) {
    const auto name = std::make_shared<std::string>("Werkbank");
    auto changed = services();
    changed.hostName = [name] { return *name; };
    restartWith(std::move(changed));
    auto phone = connectedPhone();

    *name = "Werkstatt";
    model->refresh();
    ASSERT_TRUE(pumpUntil([&] { return phone->count(MessageType::welcome) == 2; }));
    EXPECT_EQ(phone->last<Welcome>(MessageType::welcome)->hostName, "Werkstatt");
    EXPECT_EQ(PairingInfo::fromURL(model->pairingURL().value_or(""))->name, "Werkstatt");
}

const Bytes storedKey(PairingInfo::keyLength, 0x5a);

// A login keyring that is locked when the host starts: its unlock prompt waits for the user.
class DesktopHostLockedKeyringTest : public DesktopHostRulesTest {
protected:
    void SetUp() override {
        credentials->items = {storedKey};
        credentials->state = CredentialStatus::locked;
        credentials->promptWaits = true;
        waitForPort = false;
        DesktopHostRulesTest::SetUp();
    }
};

// The host comes up at once, starting but not listening, while the prompt waits; the user's
// unlock brings the stored key, and the server starts with it.
TEST_F(DesktopHostLockedKeyringTest, ThePromptDoesNotHoldUpTheHost) {
    ASSERT_TRUE(credentials->promptRaised(10s));
    EXPECT_FALSE(credentials->gaveUp()) << "the host was built only once the prompt was given up";
    EXPECT_TRUE(model->sharingEnabled());
    EXPECT_FALSE(model->port().has_value()) << "no server before the key";
    EXPECT_FALSE(model->pairingURL().has_value());
    EXPECT_FALSE(server.status().port.has_value());

    credentials->answerPrompt(true);
    ASSERT_TRUE(pumpUntil([&] { return model->port().has_value(); }));
    EXPECT_EQ(model->pairingKey().key, storedKey);
    EXPECT_EQ(model->pairingKey().origin, PairingKey::Origin::stored);
}

// Quitting while the prompt waits withdraws it rather than waiting for the user.
TEST_F(DesktopHostLockedKeyringTest, QuittingWithdrawsTheWaitingPrompt) {
    ASSERT_TRUE(credentials->promptRaised(10s));
    model.reset();
    EXPECT_TRUE(credentials->withdrawn());
    EXPECT_FALSE(credentials->gaveUp());
}

// A new key the keyring cannot keep would be undone by the next start: the host refuses it, says
// why, and keeps serving with the key that a restart loads; once the keyring takes keys again, a
// new key replaces it as usual.
TEST_F(DesktopHostRulesTest, ARotationTheKeyringCannotKeepIsRefusedAndSaysWhy) {
    auto phone = connectedPhone();
    const PairingKey inForce = model->pairingKey();
    const auto link = model->pairingURL();
    credentials->state = CredentialStatus::locked;  // and the user dismisses the prompt
    model->rotateKey();
    ASSERT_TRUE(pumpUntil([&] { return model->keyError().has_value(); }));
    EXPECT_THAT(*model->keyError(), ::testing::HasSubstr("Der Schlüsselbund ist gesperrt"));
    EXPECT_EQ(model->pairingKey().key, inForce.key);
    EXPECT_EQ(credentials->items, std::vector<Bytes>{inForce.key}) << "what the next start loads";
    EXPECT_EQ(model->pairingURL(), link);
    EXPECT_EQ(model->pairingRevision(), 0);
    EXPECT_FALSE(phone->isClosed());

    credentials->state = CredentialStatus::ok;
    model->rotateKey();
    ASSERT_TRUE(pumpUntil([&] { return model->pairingRevision() == 1 && model->port().has_value(); }));
    EXPECT_FALSE(model->keyError().has_value());
    EXPECT_EQ(credentials->items, std::vector<Bytes>{model->pairingKey().key});
    EXPECT_NE(model->pairingKey().key, inForce.key);
    EXPECT_TRUE(pumpUntil([&] { return phone->isClosed(); }));
}

}  // namespace
}  // namespace vantrel
