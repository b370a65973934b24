// The server as a phone sees it, driven in memory: phones come in through the admission over
// in-memory transports, and the test runs the server's queue itself, one step at a time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "RecordingServer.hpp"
#include "Text.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Phone;
using testing::RecordingServer;
using testing::testFrame;
using testing::testWelcome;

class SyncServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.server->setWelcome(testWelcome());
        host.run();
    }

    RecordingServer host;
};

// MARK: - The greeting

TEST_F(SyncServerTest, GreetingSendsWelcomeCachedConfigAndAppsThenReportsInOrder) {
    const VideoConfig config{VideoCodec::h264, 1280, 720, {Bytes{0x67, 1}, Bytes{0x68, 2}}};
    const AppList apps({AppEntry{"org.example.Editor", "Editor", true, std::nullopt}});
    host.server->send(config);
    host.server->send(apps);
    host.server->send(testFrame(true));  // no client yet: lost, nothing counted

    auto phone = host.connect();
    phone->hello("Anna's phone");
    host.run();
    EXPECT_THAT(phone->types(), ElementsAre(MessageType::welcome, MessageType::videoConfig, MessageType::apps));
    EXPECT_EQ(phone->last<Welcome>(MessageType::welcome), testWelcome());
    EXPECT_EQ(phone->ofType(MessageType::videoConfig).at(0), config.encoded());
    EXPECT_EQ(phone->ofType(MessageType::apps).at(0), JSONMessage::encode(apps));
    EXPECT_THAT(host.events(), ElementsAre("bitrate:8000000", "client:Anna's phone", "keyframe"));

    // No video until a key frame: the delta is dropped, the key frame and the next delta go out.
    host.server->send(testFrame(false));
    host.server->send(testFrame(true, 1000, 1));
    host.server->send(testFrame(false, 1000, 2));
    host.run();
    const auto frames = phone->ofType(MessageType::videoFrame);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(VideoFrame::decode(frames[0])->isKeyframe);
    EXPECT_EQ(VideoFrame::decode(frames[1])->timestampMicros, 2u);
}

TEST_F(SyncServerTest, GreetingWithoutCacheSendsOnlyTheWelcomeAndCutsTheNameTo64Characters) {
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";
    std::string name;
    for (int i = 0; i < 100; ++i) {
        name += flag;
    }
    auto phone = host.connect();
    phone->hello(name);
    host.run();
    EXPECT_THAT(phone->types(), ElementsAre(MessageType::welcome));
    EXPECT_TRUE(host.has("client:" + Text::prefixCharacters(name, 64)));
}

struct RefusedGreeting {
    const char* name;
    MessageType type;
    std::string body;
    bool withWelcome;
};

class RefusedGreetingTest : public ::testing::TestWithParam<RefusedGreeting> {};

// Anything but an acceptable hello first closes the connection without a word, and the client the
// server had admitted is reported gone.
TEST_P(RefusedGreetingTest, ClosesWithoutWelcome) {
    const auto& param = GetParam();
    RecordingServer host;
    if (param.withWelcome) {
        host.server->setWelcome(testWelcome());
    }
    auto phone = host.connect();
    phone->sendText(param.type, param.body);
    host.run();
    EXPECT_TRUE(phone->isClosed());
    EXPECT_THAT(phone->messages(), IsEmpty());
    EXPECT_THAT(host.events(), ElementsAre("client:-"));
}

INSTANTIATE_TEST_SUITE_P(
    BeforeGreeting, RefusedGreetingTest,
    ::testing::Values(RefusedGreeting{"wrongVersion", MessageType::hello, R"({"version":2,"deviceName":"p"})", true},
                      RefusedGreeting{"notJson", MessageType::hello, "hello?", true},
                      RefusedGreeting{"noWelcomeYet", MessageType::hello, R"({"version":1,"deviceName":"p"})", false},
                      RefusedGreeting{"inputFirst", MessageType::input, R"({"pointerMove":{"dx":1,"dy":2}})", true},
                      RefusedGreeting{"pingFirst", MessageType::ping, "x", true}),
    [](const auto& info) { return std::string(info.param.name); });

// MARK: - Client messages after the greeting

TEST_F(SyncServerTest, DispatchesRequestsAndDropsWhatDoesNotDecode) {
    auto phone = host.greetedPhone();
    host.server->send(testFrame(true));  // the stream runs, so a key-frame request goes through
    const std::string longId(300, 'a');
    phone->sendText(MessageType::input, R"({"pointerMove":{"dx":"far"}})");  // malformed: dropped
    phone->sendText(MessageType::input, R"({"button":{"button":"left","down":true}})");
    phone->sendText(MessageType::requestKeyframe, "ignored");
    phone->sendText(MessageType::selectDisplay, R"({"id":"two"})");  // malformed: dropped
    phone->sendText(MessageType::selectDisplay, R"({"id":2})");
    phone->sendText(MessageType::openApp, R"({"id":")" + longId + R"("})");
    phone->hello("again");  // ignored: no second welcome, no report
    phone->send(MessageType::ping, Bytes(100, 0x01));
    phone->send(MessageType::ping);
    host.run();

    EXPECT_THAT(phone->ofType(MessageType::pong), ElementsAre(Bytes(64, 0x01), Bytes{}));
    EXPECT_EQ(phone->count(MessageType::welcome), 1u);
    const InputEvent press = input::Button{MouseButton::left, true};
    EXPECT_THAT(host.events(),
                ElementsAre("input:" + describe(press), "keyframe", "display:2", "open:" + longId.substr(0, 256)));
    EXPECT_FALSE(phone->isClosed());
}

TEST_F(SyncServerTest, WelcomeChangesReachAGreetedClientAndWaitForTheNextOtherwise) {
    host.server->setWelcome(testWelcome("before"));
    auto phone = host.greetedPhone();
    EXPECT_EQ(phone->last<Welcome>(MessageType::welcome)->hostName, "before");
    host.server->setWelcome(testWelcome("after"));
    host.run();
    ASSERT_EQ(phone->count(MessageType::welcome), 2u);
    EXPECT_EQ(phone->last<Welcome>(MessageType::welcome)->hostName, "after");
}

// A frame over the inbound limit or of an unknown kind ends the connection; a phone that was the
// client is reported gone.
TEST_F(SyncServerTest, ABadFrameEndsTheClient) {
    auto phone = host.greetedPhone();
    host.lastServerEnd()->deliver(Bytes{0x00, 0x00, 0x00, 0x00, 0x63});  // kind 99
    host.run();
    EXPECT_TRUE(phone->isClosed());
    EXPECT_THAT(host.events(), ElementsAre("client:-"));
}

// MARK: - Admission

TEST_F(SyncServerTest, SecondPhoneReplacesTheFirstWithoutAReport) {
    auto first = host.greetedPhone("first");
    auto second = host.connect();
    EXPECT_TRUE(first->isClosed());
    EXPECT_THAT(host.events(), IsEmpty());  // the replaced client goes without any report
    second->hello("second");
    host.run();
    EXPECT_THAT(host.events(), ElementsAre("bitrate:8000000", "client:second", "keyframe"));
}

TEST_F(SyncServerTest, DisconnectAndStopReportTheClientGoneOnce) {
    host.server->disconnectClient();  // no client: nothing happens
    host.run();
    EXPECT_THAT(host.events(), IsEmpty());

    auto phone = host.greetedPhone();
    host.server->disconnectClient();
    host.run();
    EXPECT_TRUE(phone->isClosed());
    EXPECT_THAT(host.events(), ElementsAre("client:-"));
    host.clearEvents();

    auto again = host.greetedPhone();
    bool stopped = false;
    host.server->stop([&stopped] { stopped = true; });
    host.run();
    EXPECT_TRUE(again->isClosed());
    EXPECT_TRUE(stopped);
    EXPECT_THAT(host.events(), ElementsAre("client:-"));
}

TEST_F(SyncServerTest, StopAndWaitIsDoneWhenItReturns) {
    auto phone = host.greetedPhone();
    host.server->stopAndWait();  // on the queue's own thread: at once
    EXPECT_THAT(host.events(), ElementsAre("client:-"));
    EXPECT_FALSE(host.status().hasClient);
}

// The deadline counts from admission and covers the handshake and the greeting together. Timers
// fire in the order they were set, so once the later phone's deadline has closed it, the earlier
// (greeted) phone's deadline has passed as well.
TEST(SyncServerDeadlineTest, OnlyAGreetedClientOutlivesItsDeadline) {
    RecordingServer host(RecordingServer::Config{.greetingDeadline = 50ms});
    host.server->setWelcome(testWelcome());
    auto silent = host.connect();
    EXPECT_TRUE(host.runUntil([&] { return silent->isClosed(); }));
    EXPECT_THAT(host.events(), ElementsAre("client:-"));
    EXPECT_THAT(silent->messages(), IsEmpty());

    auto punctual = host.greetedPhone("on time");
    auto [quietEnd, quietPhone] = testing::MemoryTransport::makePair();
    quietEnd->setReadyOnStart(false);  // never through its handshake
    host.server->admit(quietEnd, "stuck in its handshake");
    host.run();
    EXPECT_EQ(host.status().handshaking, 1u);
    EXPECT_TRUE(host.runUntil([&] { return host.status().handshaking == 0; }));
    EXPECT_FALSE(punctual->isClosed());
    EXPECT_THAT(host.events(), IsEmpty());  // a connection that never was the client goes unreported
}

// MARK: - Send path

TEST_F(SyncServerTest, PointerUpdatesAreDedupedAndWaitForABusyConnection) {
    auto phone = host.greetedPhone();
    host.server->send(PointerPosition{0.1, 0.1});
    host.server->send(PointerPosition{0.1, 0.1});  // unchanged: nothing
    host.run();
    host.lastServerEnd()->holdSendCompletions(true);
    for (int i = 0; i < 4; ++i) {
        host.server->send(testFrame(i == 0, 100, static_cast<std::uint64_t>(i)));
    }
    host.server->send(PointerPosition{0.2, 0.2});  // 4 sends outstanding: held back
    host.run();
    host.lastServerEnd()->holdSendCompletions(false);
    host.lastServerEnd()->completeHeldSends(4);
    host.run();
    host.server->send(PointerPosition{0.2, 0.2});  // the same position, now sent
    host.server->send(PointerPosition{0.2, 0.2});
    host.run();
    const auto pointers = phone->ofType(MessageType::pointer);
    ASSERT_EQ(pointers.size(), 2u);
    EXPECT_EQ(JSONMessage::decode<PointerPosition>(pointers[0]), (PointerPosition{0.1, 0.1}));
    EXPECT_EQ(JSONMessage::decode<PointerPosition>(pointers[1]), (PointerPosition{0.2, 0.2}));
    EXPECT_EQ(phone->count(MessageType::videoFrame), 4u);
}

TEST_F(SyncServerTest, ApplicationListsAreSentOnlyWhenChanged) {
    auto phone = host.greetedPhone();
    const AppList first({AppEntry{"a", "A", false, std::nullopt}});
    const AppList second({AppEntry{"b", "B", true, Bytes{1, 2, 3}}});
    for (const auto* apps : {&first, &first, &second, &first}) {
        host.server->send(*apps);
    }
    host.run();
    EXPECT_THAT(phone->ofType(MessageType::apps),
                ElementsAre(JSONMessage::encode(first), JSONMessage::encode(second), JSONMessage::encode(first)));
}

TEST_F(SyncServerTest, SlowClientLosesDeltasUntilAKeyFrameAndTheBitrateFollows) {
    auto phone = host.greetedPhone();
    host.server->send(testFrame(true));
    host.run();
    host.lastServerEnd()->holdSendCompletions(true);
    for (int i = 0; i < 12; ++i) {
        host.server->send(testFrame(false));
        host.run();
    }
    // Nine deltas went out; the tenth found nine sends outstanding: dropping, with a key-frame
    // request. Backlogs of 5 and more marked the window congested.
    EXPECT_THAT(host.events(), ElementsAre("keyframe"));
    host.setClock(1500ms);
    host.server->send(testFrame(true));  // still busy: discarded, bitrate down
    host.run();
    EXPECT_THAT(host.events(), ElementsAre("keyframe", "bitrate:4800000"));
    host.lastServerEnd()->holdSendCompletions(false);
    host.lastServerEnd()->completeHeldSends(9);
    host.run();
    host.server->send(testFrame(false));  // drained: the held-back request for a key frame
    host.run();
    EXPECT_THAT(host.events(), ElementsAre("keyframe", "bitrate:4800000", "keyframe"));
    host.server->send(testFrame(true, 1000, 99));
    host.run();
    const auto frames = phone->ofType(MessageType::videoFrame);
    ASSERT_EQ(frames.size(), 11u);  // 1 key + 9 deltas before dropping + the resuming key frame
    EXPECT_EQ(VideoFrame::decode(frames.back())->timestampMicros, 99u);
    EXPECT_EQ(host.status().bitrate, 4'800'000);
}

// The video source hears when frames start and stop being held back, once each way.
TEST_F(SyncServerTest, HoldingFramesBackIsReportedWhenItStartsAndEnds) {
    std::vector<bool> reports;
    host.server->onHoldingFrames = [&reports](bool holding) { reports.push_back(holding); };
    auto phone = host.greetedPhone();
    host.server->send(testFrame(true));
    host.run();
    EXPECT_EQ(reports, (std::vector<bool>{true, false})) << "held from the greeting to the first key frame";
    reports.clear();
    host.lastServerEnd()->holdSendCompletions(true);
    for (int i = 0; i < 12; ++i) {
        host.server->send(testFrame(false));
        host.run();
    }
    EXPECT_EQ(reports, std::vector<bool>{true});
    host.lastServerEnd()->holdSendCompletions(false);
    host.lastServerEnd()->completeHeldSends(9);
    host.run();
    host.server->send(testFrame(true));
    host.run();
    EXPECT_EQ(reports, (std::vector<bool>{true, false}));
}

// Only frames handed to the connection are reported as sent, by their time stamps: not those
// before the first key frame, nor those held back for a phone that fell behind.
TEST_F(SyncServerTest, FramesHandedToTheConnectionAreReportedByTheirTimeStamps) {
    std::vector<std::uint64_t> sent;
    host.server->onFrameSent = [&sent](std::uint64_t timestamp) { sent.push_back(timestamp); };
    auto phone = host.greetedPhone();
    host.server->send(testFrame(false, 1000, 1));
    host.server->send(testFrame(true, 1000, 2));
    host.server->send(testFrame(false, 1000, 3));
    host.run();
    EXPECT_THAT(sent, ElementsAre(2u, 3u));

    host.lastServerEnd()->holdSendCompletions(true);
    for (std::uint64_t frame = 10; frame < 22; ++frame) {
        host.server->send(testFrame(false, 1000, frame));
        host.run();
    }
    EXPECT_EQ(sent.size(), 2u + 9u) << "from the ninth unfinished send on, frames are held back";
    EXPECT_EQ(phone->ofType(MessageType::videoFrame).size(), sent.size());
}

// MARK: - Lifetime

TEST(SyncServerLifetimeTest, LastReferenceDroppedInsideACallbackEndsQuietly) {
    RecordingServer host;
    host.server->setWelcome(testWelcome());
    auto phone = host.connect();
    // The callback holds the only other reference and lets it go while the server runs its own
    // code, so the destructor runs on the server's queue, from inside the server.
    auto holder = std::make_shared<std::shared_ptr<SyncServer>>(host.server);
    host.server.reset();
    bool released = false;
    (*holder)->onKeyframeRequest = [holder, &released] {
        holder->reset();
        released = true;
    };
    phone->hello("p");
    host.run();
    EXPECT_TRUE(released);
    EXPECT_TRUE(phone->isClosed());
}

}  // namespace
}  // namespace vantrel
