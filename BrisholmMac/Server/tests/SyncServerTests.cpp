#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ServerHarness.hpp"
#include "Text.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::keyOf;
using testing::ServerHarness;
using testing::SilentSocket;
using testing::testFrame;
using testing::TestPhone;
using testing::testWelcome;

Bytes bytesOf(const std::string& value) {
    return Bytes(value.begin(), value.end());
}

class SyncServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server->server->setWelcome(testWelcome());
        auto listening = server->start(key);
        ASSERT_TRUE(listening.has_value());
        port = *listening;
    }

    // A phone that is through TLS and greeted, with the events of its greeting cleared.
    std::unique_ptr<TestPhone> greetedPhone(const std::string& name = "phone") {
        auto phone = std::make_unique<TestPhone>(port, key);
        EXPECT_TRUE(phone->greet(name));
        EXPECT_TRUE(server->waitForEvent("keyframe"));
        server->settle();
        server->clearEvents();
        return phone;
    }

    // Replaces the server with one made from config.
    void restart(testing::HarnessConfig config, bool withWelcome = true) {
        server = std::make_unique<ServerHarness>(std::move(config));
        if (withWelcome) {
            server->server->setWelcome(testWelcome());
        }
        port = server->start(key).value_or(0);
    }

    Bytes key = keyOf(7);
    std::unique_ptr<ServerHarness> server = std::make_unique<ServerHarness>();
    std::uint16_t port = 0;
};

// MARK: - The greeting, as the phone sees it

TEST_F(SyncServerTest, GreetingSendsWelcomeCachedConfigAndAppsThenReportsInOrder) {
    VideoConfig config{VideoCodec::h264, 1280, 720, {Bytes{0x67, 1}, Bytes{0x68, 2}}};
    AppList apps({AppEntry{"org.example.Editor", "Editor", true, std::nullopt}});
    server->server->send(config);
    server->server->send(apps);
    server->server->send(testFrame(true));  // no client yet: lost, nothing counted

    TestPhone phone(port, key);
    ASSERT_TRUE(phone.greet("Anna's phone"));
    ASSERT_TRUE(phone.waitForMessages(3));
    ASSERT_TRUE(server->waitForEvent("keyframe"));

    EXPECT_THAT(phone.types(), ElementsAre(MessageType::welcome, MessageType::videoConfig, MessageType::apps));
    EXPECT_EQ(JSONMessage::decode<Welcome>(phone.messages()[0].second), testWelcome());
    EXPECT_EQ(phone.messages()[1].second, config.encoded());
    EXPECT_EQ(phone.messages()[2].second, JSONMessage::encode(apps));
    EXPECT_THAT(server->events(),
                ElementsAre("listening:" + std::to_string(port), "bitrate:8000000", "client:Anna's phone", "keyframe"));

    // No video until a key frame: the delta is dropped, the key frame and the next delta go out.
    server->server->send(testFrame(false));
    server->server->send(testFrame(true, 1000, 1));
    server->server->send(testFrame(false, 1000, 2));
    ASSERT_TRUE(phone.waitForMessages(5));
    const auto frames = phone.ofType(MessageType::videoFrame);
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
    TestPhone phone(port, key);
    ASSERT_TRUE(phone.greet(name));
    ASSERT_TRUE(server->waitForEvent("keyframe"));
    server->settle();
    EXPECT_THAT(phone.types(), ElementsAre(MessageType::welcome));
    EXPECT_TRUE(server->waitForEvent("client:" + Text::prefixCharacters(name, 64)));
}

struct RefusedGreeting {
    const char* name;
    MessageType type;
    std::string body;
    bool withWelcome;
};

class RefusedGreetingTest : public SyncServerTest, public ::testing::WithParamInterface<RefusedGreeting> {};

// Anything but an acceptable hello first closes the connection without a word, and the client the
// server had admitted is reported gone.
TEST_P(RefusedGreetingTest, ClosesWithoutWelcome) {
    const auto& param = GetParam();
    if (!param.withWelcome) {
        restart({}, false);  // a fresh server that was never given a welcome
    }
    TestPhone phone(port, key);
    ASSERT_TRUE(phone.waitReady());
    phone.send(param.type, bytesOf(param.body));
    EXPECT_TRUE(phone.waitClosed());
    EXPECT_TRUE(server->waitForEvent("client:-"));
    EXPECT_THAT(phone.ofType(MessageType::welcome), IsEmpty());
    for (const auto& event : server->events()) {
        EXPECT_NE(event, "bitrate:8000000");
        EXPECT_NE(event, "keyframe");
    }
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
    auto phone = greetedPhone();
    const std::string longId(300, 'a');
    phone->sendText(MessageType::input, R"({"pointerMove":{"dx":"far"}})");  // malformed: dropped
    phone->sendText(MessageType::input, R"({"button":{"button":"left","down":true}})");
    phone->send(MessageType::requestKeyframe, bytesOf("ignored"));
    phone->sendText(MessageType::selectDisplay, R"({"id":"two"})");  // malformed: dropped
    phone->sendText(MessageType::selectDisplay, R"({"id":2})");
    phone->sendText(MessageType::openApp, R"({"id":")" + longId + R"("})");
    phone->hello("again");  // ignored: no second welcome, no report
    phone->send(MessageType::ping, Bytes(100, 0x01));
    phone->send(MessageType::ping);
    ASSERT_TRUE(phone->waitForMessages(3));  // welcome and two pongs

    const auto pongs = phone->ofType(MessageType::pong);
    ASSERT_EQ(pongs.size(), 2u);
    EXPECT_EQ(pongs[0], Bytes(64, 0x01));
    EXPECT_TRUE(pongs[1].empty());
    EXPECT_EQ(phone->ofType(MessageType::welcome).size(), 1u);
    InputEvent press = input::Button{MouseButton::left, true};
    EXPECT_THAT(server->events(),
                ElementsAre("input:" + describe(press), "keyframe", "display:2", "open:" + longId.substr(0, 256)));
    EXPECT_FALSE(phone->isClosed());
}

TEST_F(SyncServerTest, WelcomeChangesReachAGreetedClientAndWaitForTheNextOtherwise) {
    server->server->setWelcome(testWelcome("before"));
    server->settle();
    auto phone = greetedPhone();
    EXPECT_EQ(JSONMessage::decode<Welcome>(phone->ofType(MessageType::welcome).at(0))->hostName, "before");
    server->server->setWelcome(testWelcome("after"));
    ASSERT_TRUE(phone->waitForMessages(2));
    EXPECT_EQ(JSONMessage::decode<Welcome>(phone->ofType(MessageType::welcome).at(1))->hostName, "after");
}

// MARK: - Admission

TEST_F(SyncServerTest, ClientThatNeverGreetsIsClosedAtTheDeadlineAndReportedGone) {
    restart(testing::HarnessConfig{.greetingDeadline = 600ms});

    TestPhone phone(port, key);
    ASSERT_TRUE(phone.waitReady());
    EXPECT_TRUE(phone.waitClosed());
    EXPECT_TRUE(server->waitForEvent("client:-"));
    EXPECT_THAT(phone.messages(), IsEmpty());

    // A phone that greets in time stays.
    TestPhone punctual(port, key);
    ASSERT_TRUE(punctual.greet("on time"));
    std::this_thread::sleep_for(900ms);
    EXPECT_FALSE(punctual.isClosed());
}

TEST_F(SyncServerTest, ConnectionThatNeverStartsTlsIsClosedAtTheDeadlineWithoutAReport) {
    restart(testing::HarnessConfig{.greetingDeadline = 600ms}, false);

    SilentSocket silent(port);
    ASSERT_TRUE(silent.connected());
    ASSERT_TRUE(testing::waitUntil([&] { return server->status().handshaking == 1; }));
    EXPECT_TRUE(silent.closedByServer(10s));
    EXPECT_TRUE(testing::waitUntil([&] { return server->status().handshaking == 0; }));
    EXPECT_THAT(server->events(), ElementsAre("listening:" + std::to_string(port)));
}

TEST_F(SyncServerTest, WrongKeyNeverBecomesTheClient) {
    auto phone = greetedPhone("owner");
    TestPhone intruder(port, keyOf(8));
    EXPECT_TRUE(intruder.waitClosed());
    EXPECT_FALSE(intruder.isReady());
    EXPECT_TRUE(testing::waitUntil([&] { return server->status().handshaking == 0; }));
    server->server->send(PointerPosition{0.5, 0.5});
    ASSERT_TRUE(phone->waitForMessages(2));
    EXPECT_FALSE(phone->isClosed());
    EXPECT_THAT(server->events(), IsEmpty());
}

TEST_F(SyncServerTest, SecondPhoneReplacesTheFirstWithoutAReport) {
    auto first = greetedPhone("first");
    TestPhone second(port, key);
    ASSERT_TRUE(second.waitReady());
    EXPECT_TRUE(first->waitClosed());
    server->settle();
    EXPECT_THAT(server->events(), IsEmpty());  // the replaced client goes without any report
    second.hello("second");
    ASSERT_TRUE(server->waitForEvent("keyframe"));
    EXPECT_THAT(server->events(), ElementsAre("bitrate:8000000", "client:second", "keyframe"));
}

TEST_F(SyncServerTest, RefusedPeerIsClosedBeforeAnyHandshake) {
    restart(testing::HarnessConfig{.isAllowedPeer = [](const auto&) { return false; }}, false);

    SilentSocket refused(port);
    EXPECT_TRUE(refused.closedByServer(10s));
    TestPhone phone(port, key);
    EXPECT_TRUE(phone.waitClosed());
    EXPECT_FALSE(phone.isReady());
    EXPECT_EQ(server->status().handshaking, 0u);
    EXPECT_THAT(server->events(), ElementsAre("listening:" + std::to_string(port)));
}

// More connections than the cap in their handshake are turned away at the door, and the ones
// already waiting are not disturbed.
TEST_F(SyncServerTest, HandshakesBeyondTheCapAreClosedAtOnce) {
    restart(testing::HarnessConfig{.maxHandshaking = 3});

    std::vector<std::unique_ptr<SilentSocket>> waiting;
    for (int i = 0; i < 3; ++i) {
        waiting.push_back(std::make_unique<SilentSocket>(port));
    }
    ASSERT_TRUE(testing::waitUntil([&] { return server->status().handshaking == 3; }));
    SilentSocket fourth(port);
    EXPECT_TRUE(fourth.closedByServer(10s));
    EXPECT_EQ(server->status().handshaking, 3u);
    waiting.clear();
    ASSERT_TRUE(testing::waitUntil([&] { return server->status().handshaking == 0; }));
    TestPhone phone(port, key);
    EXPECT_TRUE(phone.greet("after the flood"));
}

TEST_F(SyncServerTest, DisconnectStopAndStartReportTheClientGoneOnce) {
    server->server->disconnectClient();  // no client: nothing happens
    server->settle();
    EXPECT_THAT(server->events(), ElementsAre("listening:" + std::to_string(port)));
    server->clearEvents();

    auto phone = greetedPhone();
    server->server->disconnectClient();
    EXPECT_TRUE(phone->waitClosed());
    server->settle();
    EXPECT_THAT(server->events(), ElementsAre("client:-"));
    server->clearEvents();

    auto again = greetedPhone();
    server->server->stop();
    EXPECT_TRUE(again->waitClosed());
    server->settle();
    EXPECT_THAT(server->events(), ElementsAre("client:-"));
    EXPECT_EQ(server->advertiser->current(), std::nullopt);
    EXPECT_EQ(server->status().port, std::nullopt);

    // A new key: a new listener, advertised; the old key no longer gets in.
    const auto newPort = server->start(keyOf(9));
    ASSERT_TRUE(newPort.has_value());
    EXPECT_EQ(server->advertiser->current(), (testing::FakeServiceAdvertiser::Announcement{"_vantrel._tcp", *newPort}));
    TestPhone oldKey(*newPort, key);
    EXPECT_TRUE(oldKey.waitClosed());
    TestPhone newKey(*newPort, keyOf(9));
    EXPECT_TRUE(newKey.greet("rekeyed"));
}

// MARK: - Listening

TEST(SyncServerListeningTest, PreferredPortWhenFreeAnotherWhenTakenAndNoValueWhenNothingWorks) {
    // Hold a port ourselves, so the preferred one is taken.
    asio::io_context context;
    asio::ip::tcp::acceptor holder(context, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    const auto taken = holder.local_endpoint().port();

    ServerHarness busy;
    const auto fallback = busy.start(keyOf(1), taken);
    ASSERT_TRUE(fallback.has_value());
    EXPECT_NE(*fallback, taken);
    EXPECT_EQ(busy.listened().size(), 1u);  // one report, for the fallback
    EXPECT_EQ(busy.advertiser->current()->port, *fallback);

    // The port just released by the holder is free now: it is used as asked.
    holder.close();
    ServerHarness released;
    EXPECT_EQ(released.start(keyOf(1), taken), std::optional<std::uint16_t>(taken));

    // An address this machine does not have: the preferred port fails, the one retry fails, and
    // only then one report with no value. Port 0 fails at once, without a retry.
    for (const std::uint16_t preferred : {std::uint16_t{taken}, std::uint16_t{0}}) {
        ServerHarness nowhere(testing::HarnessConfig{.listenAddress = asio::ip::make_address_v4("192.0.2.1")});
        EXPECT_EQ(nowhere.start(keyOf(1), preferred), std::nullopt);
        nowhere.settle();
        EXPECT_EQ(nowhere.listened().size(), 1u);
        EXPECT_EQ(nowhere.advertiser->history().size(), 0u);
    }
}

// MARK: - Send path

TEST_F(SyncServerTest, PointerUpdatesAreDedupedAndWaitForABusyConnection) {
    auto phone = greetedPhone();
    auto transport = server->lastTransport();
    server->server->send(PointerPosition{0.1, 0.1});
    server->server->send(PointerPosition{0.1, 0.1});  // unchanged: nothing
    ASSERT_TRUE(phone->waitForMessages(2));
    server->settle();  // the pointer's send has completed
    transport->hold();
    for (int i = 0; i < 4; ++i) {
        server->server->send(testFrame(i == 0, 100, static_cast<std::uint64_t>(i)));
        server->settle();
    }
    server->server->send(PointerPosition{0.2, 0.2});  // 4 sends outstanding: held back
    server->settle();
    transport->release();
    server->settle();
    server->server->send(PointerPosition{0.2, 0.2});  // the same position, now sent
    server->server->send(PointerPosition{0.2, 0.2});
    ASSERT_TRUE(phone->waitForMessages(7));
    server->settle();
    const auto pointers = phone->ofType(MessageType::pointer);
    ASSERT_EQ(pointers.size(), 2u);
    EXPECT_EQ(JSONMessage::decode<PointerPosition>(pointers[0]), (PointerPosition{0.1, 0.1}));
    EXPECT_EQ(JSONMessage::decode<PointerPosition>(pointers[1]), (PointerPosition{0.2, 0.2}));
    EXPECT_EQ(phone->ofType(MessageType::videoFrame).size(), 4u);
}

TEST_F(SyncServerTest, ApplicationListsAreSentOnlyWhenChanged) {
    auto phone = greetedPhone();
    const AppList first({AppEntry{"a", "A", false, std::nullopt}});
    const AppList second({AppEntry{"b", "B", true, Bytes{1, 2, 3}}});
    for (const auto* apps : {&first, &first, &second, &first}) {
        server->server->send(*apps);
    }
    ASSERT_TRUE(phone->waitForMessages(4));
    server->settle();
    EXPECT_THAT(phone->ofType(MessageType::apps),
                ElementsAre(JSONMessage::encode(first), JSONMessage::encode(second), JSONMessage::encode(first)));
}

TEST_F(SyncServerTest, SlowClientLosesDeltasUntilAKeyFrameAndTheBitrateFollows) {
    auto phone = greetedPhone();
    auto transport = server->lastTransport();
    server->server->send(testFrame(true));
    ASSERT_TRUE(phone->waitForMessages(2));
    server->settle();  // the key frame's send has completed
    transport->hold();
    for (int i = 0; i < 12; ++i) {
        server->server->send(testFrame(false));
        server->settle();
    }
    // Nine deltas went out; the tenth found nine sends outstanding: dropping, with a key-frame
    // request. Backlogs of 5 and more marked the window congested.
    EXPECT_THAT(server->events(), ElementsAre("keyframe"));
    server->setClock(1500ms);
    server->server->send(testFrame(true));  // still busy: discarded, asked again, bitrate down
    server->settle();
    EXPECT_THAT(server->events(), ElementsAre("keyframe", "bitrate:4800000", "keyframe"));
    transport->release();
    server->settle();
    server->server->send(testFrame(false));  // still waiting for a key frame
    server->server->send(testFrame(true, 1000, 99));
    ASSERT_TRUE(phone->waitForMessages(12));
    server->settle();
    const auto frames = phone->ofType(MessageType::videoFrame);
    ASSERT_EQ(frames.size(), 11u);  // 1 key + 9 deltas before dropping + the resuming key frame
    EXPECT_EQ(VideoFrame::decode(frames.back())->timestampMicros, 99u);
    EXPECT_EQ(server->status().bitrate, 4'800'000);
}

// MARK: - Lifetime

TEST(SyncServerLifetimeTest, DroppingTheServerWithPhonesAttachedClosesEverythingQuietly) {
    auto harness = std::make_unique<ServerHarness>();
    harness->server->setWelcome(testWelcome());
    const auto port = *harness->start(keyOf(3));
    TestPhone greeted(port, keyOf(3));
    ASSERT_TRUE(greeted.greet("p"));
    SilentSocket pending(port);
    harness->server->send(testFrame(true, 50'000));
    harness->server.reset();  // destroyed here, off its queue, with work still queued
    EXPECT_TRUE(greeted.waitClosed());
    EXPECT_TRUE(pending.closedByServer(10s));
}

TEST(SyncServerLifetimeTest, LastReferenceDroppedInsideACallbackEndsOnTheServerQueue) {
    auto harness = std::make_unique<ServerHarness>();
    harness->server->setWelcome(testWelcome());
    const auto port = *harness->start(keyOf(3));
    std::atomic<bool> released{false};
    // The callback holds the only other reference; it lets it go while the server is running
    // its own code, so the destructor runs on the server's queue.
    auto holder = std::make_shared<std::shared_ptr<SyncServer>>(harness->server);
    harness->server.reset();
    (*holder)->onKeyframeRequest = [holder, &released] {
        holder->reset();
        released = true;
    };
    TestPhone phone(port, keyOf(3));
    ASSERT_TRUE(phone.waitReady());
    phone.hello("p");
    EXPECT_TRUE(testing::waitUntil([&] { return released.load(); }));
    EXPECT_TRUE(phone.waitClosed());
}

}  // namespace
}  // namespace vantrel
