// The host session over fakes of its three parts, with the real server and encoder in memory on
// a manual queue that is also the main queue: every step runs on the test's thread, in order.
#include "Host/HostSession.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Capture/VideoEncoder.hpp"
#include "RecordingServer.hpp"
#include "SyncServer.hpp"
#include "vantrel/InputEvent.hpp"

namespace vantrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A picture source that writes down what it is asked ("start 2", "stop", "keyframe") and starts
// or fails as the test says; the test ends it by itself through its observers.
class RecordingFrames final : public FrameSource {
public:
    std::vector<std::string> calls;
    Failure failStarts;

    void start(const DisplayInfo& display, std::function<void(Failure)> started) override {
        calls.push_back("start " + std::to_string(display.id));
        started(failStarts);
    }
    void stop(std::function<void()> stopped) override {
        calls.push_back("stop");
        if (stopped) {
            stopped();
        }
    }
    void sendKeyframeNow() override { calls.push_back("keyframe"); }
};

class RecordingInput final : public InputSink {
public:
    std::vector<std::string> calls;
    void handle(const InputEvent& event) override { calls.push_back(describe(event)); }
    void releaseAll() override { calls.emplace_back("release"); }
};

class FixedApplications final : public Applications {
public:
    std::vector<std::string> opened;
    AppList current() override { return AppList({AppEntry{"org.gnome.Terminal", "Terminal", true, {}}}); }
    void open(const std::string& id, const std::optional<AppList>&) override { opened.push_back(id); }
};

class HostSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        session = HostSession::create(
            {MainQueue::on(server.queue()), server.server, std::make_shared<VideoEncoder>(), frames, input, apps},
            {"Werkbank", {{1, "Links", 1920, 1080}, {2, "Rechts", 1280, 720}}, 1, true});
        session->onListening = [this](std::optional<std::uint16_t> port) { listening = port; };
        session->onClientChanged = [this](const std::optional<std::string>& client) {
            clients.push_back(client.value_or("-"));
        };
        session->onCaptureStatus = [this](const FrameSource::Failure& failure) {
            statuses.push_back(failure.value_or("ok"));
        };
        session->publishWelcome();
        session->start(Bytes(32, 7), 0);
        ASSERT_TRUE(server.runUntil([&] { return listening.has_value(); }));
    }

    void TearDown() override { session->stopAndWait(); }

    std::unique_ptr<testing::Phone> watchingPhone() {
        auto phone = server.connect();
        phone->hello("Pixel");
        EXPECT_TRUE(server.runUntil([&] { return !clients.empty() && clients.back() == "Pixel"; }));
        return phone;
    }

    testing::RecordingServer server;
    std::shared_ptr<RecordingFrames> frames = std::make_shared<RecordingFrames>();
    std::shared_ptr<RecordingInput> input = std::make_shared<RecordingInput>();
    std::shared_ptr<FixedApplications> apps = std::make_shared<FixedApplications>();
    std::shared_ptr<HostSession> session;
    std::optional<std::uint16_t> listening;
    std::vector<std::string> clients;
    std::vector<std::string> statuses;
};

// A phone arriving starts the pictures on the shown display, then asks for a key frame, and is
// offered the applications; its input reaches the sink; leaving releases it and stops the source.
TEST_F(HostSessionTest, APhoneComesWatchesOperatesAndLeaves) {
    auto phone = watchingPhone();
    server.run();
    // The phone's greeting may ask for a key frame of its own as well.
    ASSERT_GE(frames->calls.size(), 2U);
    EXPECT_THAT(std::vector(frames->calls.begin(), frames->calls.begin() + 2), ElementsAre("start 1", "keyframe"));
    EXPECT_THAT(statuses, ElementsAre("ok"));
    EXPECT_TRUE(server.runUntil([&] { return phone->count(MessageType::apps) == 1; }));

    phone->sendText(MessageType::input, R"({"button":{"button":"left","down":true}})");
    phone->sendJSON(MessageType::openApp, OpenApp{"org.gnome.Terminal"});
    ASSERT_TRUE(server.runUntil([&] { return !apps->opened.empty(); }));
    EXPECT_EQ(input->calls.size(), 1U);

    phone->leave();
    ASSERT_TRUE(server.runUntil([&] { return clients.back() == "-"; }));
    EXPECT_THAT(input->calls.back(), "release");
    EXPECT_THAT(frames->calls.back(), "stop");
}

// The phone chooses the other display: republished welcome, the source moved there with a key
// frame. An unknown display changes nothing, for the phone or for the host.
TEST_F(HostSessionTest, SelectingADisplay) {
    auto phone = watchingPhone();
    frames->calls.clear();
    EXPECT_FALSE(session->selectDisplay(9));
    EXPECT_EQ(session->description().activeDisplay, 1U);
    EXPECT_THAT(frames->calls, IsEmpty());

    ASSERT_TRUE(session->selectDisplay(2));
    server.run();
    EXPECT_THAT(frames->calls, ElementsAre("start 2", "keyframe"));
    ASSERT_TRUE(server.runUntil([&] { return phone->count(MessageType::welcome) == 2; }));
    EXPECT_EQ(phone->last<Welcome>(MessageType::welcome)->activeDisplay, 2U);
    EXPECT_EQ(session->activeDisplayInfo()->width, 1280);
}

// A source that cannot start keeps the phone: the user sees why and may pick another display.
TEST_F(HostSessionTest, ASourceThatCannotStartKeepsThePhone) {
    frames->failStarts = "Der Bildschirm kann nicht aufgenommen werden";
    auto phone = watchingPhone();
    server.run();
    EXPECT_THAT(statuses, ElementsAre("Der Bildschirm kann nicht aufgenommen werden"));
    server.run();
    EXPECT_FALSE(phone->isClosed());
}

// A source that ends by itself: the reason is reported and the phone let go. A display that
// went away is the host's to answer (it shows another); with nobody to answer, the phone goes;
// with nobody watching, nothing happens.
TEST_F(HostSessionTest, TheSourceEndingByItself) {
    {
        auto phone = watchingPhone();
        frames->onStopped(std::string("Die Verbindung zum Bildschirm ist abgebrochen"));
        ASSERT_TRUE(server.runUntil([&] { return phone->isClosed(); }));
        EXPECT_EQ(statuses.back(), "Die Verbindung zum Bildschirm ist abgebrochen");
        ASSERT_TRUE(server.runUntil([&] { return clients.back() == "-"; }));
    }
    {
        std::vector<std::uint32_t> gone;
        session->onDisplayGone = [&](std::uint32_t display) { gone.push_back(display); };
        auto phone = watchingPhone();
        frames->onDisplayGone();
        ASSERT_TRUE(server.runUntil([&] { return !gone.empty(); }));
        EXPECT_THAT(gone, ElementsAre(1U));
        EXPECT_FALSE(phone->isClosed());

        session->onDisplayGone = nullptr;
        frames->onDisplayGone();
        ASSERT_TRUE(server.runUntil([&] { return phone->isClosed(); }));
        ASSERT_TRUE(server.runUntil([&] { return clients.back() == "-"; }));

        session->onDisplayGone = [&](std::uint32_t display) { gone.push_back(display); };
        frames->onDisplayGone();
        server.run();
        EXPECT_EQ(gone.size(), 1U) << "nobody watches: nothing to answer";
    }
}

// The way down in its order: input released, pictures stopped, then the server; input that
// arrives on the way is dropped.
TEST_F(HostSessionTest, StoppingInOrder) {
    auto phone = watchingPhone();
    input->calls.clear();
    frames->calls.clear();
    bool stopped = false;
    session->stop([&] { stopped = true; });
    phone->sendText(MessageType::input, R"({"button":{"button":"left","down":true}})");
    ASSERT_TRUE(server.runUntil([&] { return stopped; }));
    EXPECT_THAT(input->calls, ::testing::Each("release")) << "nothing handled on the way down";
    EXPECT_FALSE(input->calls.empty());
    EXPECT_EQ(frames->calls.front(), "stop");
    EXPECT_FALSE(server.status().port.has_value());
    EXPECT_TRUE(phone->isClosed());
}

}  // namespace
}  // namespace vantrel
