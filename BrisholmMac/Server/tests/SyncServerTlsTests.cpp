// What only real sockets show: the listener and its port fallback, the peer filter, the TLS
// handshake with and without the key, the deadline of a connection that never starts TLS, the
// cap on handshakes, a restart with a new key, and tear-down with sockets attached.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RecordingServer.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::keyOf;
using testing::Phone;
using testing::RecordingServer;
using testing::SilentSocket;
using testing::testFrame;
using testing::testWelcome;
using testing::waitUntil;

RecordingServer::Config overTls(RecordingServer::Config config = {}) {
    config.link = RecordingServer::Link::tls;
    return config;
}

class SyncServerTlsTest : public ::testing::Test {
protected:
    void SetUp() override { listen(overTls()); }

    void listen(RecordingServer::Config config, bool withWelcome = true) {
        host = std::make_unique<RecordingServer>(std::move(config));
        if (withWelcome) {
            host->server->setWelcome(testWelcome());
        }
        port = host->start(key).value_or(0);
        ASSERT_NE(port, 0);
        host->clearEvents();
    }

    Bytes key = keyOf(7);
    std::unique_ptr<RecordingServer> host;
    std::uint16_t port = 0;
};

TEST_F(SyncServerTlsTest, OnlyThePairingKeyGetsThroughTheHandshake) {
    auto owner = Phone::overTls(port, key);
    ASSERT_TRUE(owner->greet("owner"));
    ASSERT_TRUE(host->waitForEvent("keyframe"));
    host->clearEvents();

    auto intruder = Phone::overTls(port, keyOf(8));
    EXPECT_TRUE(intruder->waitClosed());
    EXPECT_FALSE(intruder->isReady());
    EXPECT_TRUE(waitUntil([&] { return host->status().handshaking == 0; }));
    host->server->send(PointerPosition{0.5, 0.5});
    EXPECT_TRUE(owner->waitForCount(MessageType::pointer, 1));
    EXPECT_FALSE(owner->isClosed());
    EXPECT_THAT(host->events(), IsEmpty());
}

TEST_F(SyncServerTlsTest, ConnectionThatNeverStartsTlsIsClosedAtTheDeadlineWithoutAReport) {
    listen(overTls({.greetingDeadline = 300ms}), false);
    SilentSocket silent(port);
    ASSERT_TRUE(silent.connected());
    ASSERT_TRUE(waitUntil([&] { return host->status().handshaking == 1; }));
    EXPECT_TRUE(silent.closedByServer(10s));
    EXPECT_TRUE(waitUntil([&] { return host->status().handshaking == 0; }));
    EXPECT_THAT(host->events(), IsEmpty());
}

TEST_F(SyncServerTlsTest, RefusedPeerIsClosedBeforeAnyHandshake) {
    listen(overTls({.isAllowedPeer = [](const auto&) { return false; }}), false);
    SilentSocket refused(port);
    EXPECT_TRUE(refused.closedByServer(10s));
    auto phone = Phone::overTls(port, key);
    EXPECT_TRUE(phone->waitClosed());
    EXPECT_FALSE(phone->isReady());
    EXPECT_EQ(host->status().handshaking, 0u);
    EXPECT_THAT(host->events(), IsEmpty());
}

TEST_F(SyncServerTlsTest, StopWithdrawsAndANewKeyLocksTheOldOneOut) {
    auto phone = Phone::overTls(port, key);
    ASSERT_TRUE(phone->greet());
    ASSERT_TRUE(host->waitForEvent("keyframe"));
    host->clearEvents();
    host->server->stopAndWait();
    EXPECT_TRUE(phone->waitClosed());
    EXPECT_THAT(host->events(), ElementsAre("client:-"));
    EXPECT_EQ(host->advertiser->current(), std::nullopt);
    EXPECT_EQ(host->status().port, std::nullopt);

    const auto newPort = host->start(keyOf(9));
    ASSERT_TRUE(newPort.has_value());
    EXPECT_EQ(host->advertiser->current(), (testing::FakeServiceAdvertiser::Announcement{"_vantrel._tcp", *newPort}));
    EXPECT_TRUE(Phone::overTls(*newPort, key)->waitClosed());
    EXPECT_TRUE(Phone::overTls(*newPort, keyOf(9))->greet("rekeyed"));
}

TEST(SyncServerListeningTest, PreferredPortWhenFreeAnotherWhenTakenAndNoValueWhenNothingWorks) {
    // Hold a port ourselves, so the preferred one is taken.
    asio::io_context context;
    asio::ip::tcp::acceptor holder(context, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    const auto taken = holder.local_endpoint().port();

    RecordingServer busy(overTls());
    const auto fallback = busy.start(keyOf(1), taken);
    ASSERT_TRUE(fallback.has_value());
    EXPECT_NE(*fallback, taken);
    EXPECT_EQ(busy.events().size(), 1u);  // one report, for the fallback
    EXPECT_EQ(busy.advertiser->current()->port, *fallback);

    // The port just released by the holder is free now: it is used as asked.
    holder.close();
    RecordingServer released(overTls());
    EXPECT_EQ(released.start(keyOf(1), taken), std::optional<std::uint16_t>(taken));

    // An address this machine does not have: the preferred port fails, the one retry fails, and
    // only then one report with no value. Port 0 fails at once, without a retry.
    for (const std::uint16_t preferred : {std::uint16_t{taken}, std::uint16_t{0}}) {
        RecordingServer nowhere(overTls({.listenAddress = asio::ip::make_address_v4("192.0.2.1")}));
        EXPECT_EQ(nowhere.start(keyOf(1), preferred), std::nullopt);
        (void)nowhere.status();
        EXPECT_THAT(nowhere.events(), ElementsAre("listening:-"));
        EXPECT_EQ(nowhere.advertiser->history().size(), 0u);
    }
}

TEST(SyncServerLifetimeTest, DroppingTheServerWithPhonesAttachedClosesEverythingQuietly) {
    RecordingServer host(overTls());
    host.server->setWelcome(testWelcome());
    const auto port = *host.start(keyOf(3));
    auto greeted = Phone::overTls(port, keyOf(3));
    ASSERT_TRUE(greeted->greet("p"));
    SilentSocket pending(port);
    host.server->send(testFrame(true, 50'000));
    host.server.reset();  // destroyed here, off its queue, with work still queued
    EXPECT_TRUE(greeted->waitClosed());
    EXPECT_TRUE(pending.closedByServer(10s));
}

}  // namespace
}  // namespace vantrel
