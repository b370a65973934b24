// The server against phones that stall, flood or misbehave within the protocol: what each may
// cost the host is bounded, and none of them can keep the paired phone out. Driven in memory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "RecordingServer.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::MemoryTransport;
using testing::Phone;
using testing::RecordingServer;
using testing::testFrame;
using testing::testWelcome;

constexpr std::int64_t sendLimit = 64 * 1024;

class SyncServerHardeningTest : public ::testing::Test {
protected:
    explicit SyncServerHardeningTest(RecordingServer::Config config = {.maxHandshaking = 3,
                                                                       .maxQueuedSendBytes = sendLimit})
        : host(std::move(config)) {
        host.server->setWelcome(testWelcome());
        host.run();
    }

    // A greeted phone whose stream runs (its first key frame went out).
    std::unique_ptr<Phone> streamingPhone() {
        auto phone = host.greetedPhone();
        host.server->send(testFrame(true));
        host.run();
        host.clearEvents();
        return phone;
    }

    // A connection that never gets through its handshake; its server end is returned.
    std::shared_ptr<MemoryTransport> stuckInHandshake(const std::string& peer) {
        auto [serverEnd, phoneEnd] = MemoryTransport::makePair();
        serverEnd->setReadyOnStart(false);
        stuckPhoneEnds_.push_back(phoneEnd);
        host.server->admit(serverEnd, peer);
        host.run();
        return serverEnd;
    }

    RecordingServer host;

private:
    std::vector<std::shared_ptr<MemoryTransport>> stuckPhoneEnds_;
};

// MARK: - Memory a phone can make the host hold

// A phone that stops reading but keeps every allowed message coming (acknowledgements keep the
// congestion control's measure at zero; pings ask for pongs) is dropped once what waits for it
// passes the limit. A phone that reads may receive any amount in total.
TEST_F(SyncServerHardeningTest, APhoneThatStopsReadingIsDroppedAtTheSendLimitAndOneThatReadsNever) {
    auto reader = streamingPhone();
    for (int frame = 0; frame < 40; ++frame) {  // 10 times the limit, completions flowing
        host.server->send(testFrame(false, 16 * 1024));
        reader->send(MessageType::frameAck);
        host.run();
    }
    EXPECT_TRUE(host.status().hasClient);
    EXPECT_EQ(reader->count(MessageType::videoFrame), 41u);

    host.lastServerEnd()->holdSendCompletions(true);  // the phone's receive window is full
    for (int frame = 0; frame < 40 && host.status().hasClient; ++frame) {
        host.server->send(testFrame(false, 16 * 1024));
        reader->send(MessageType::frameAck);
        host.server->send(PointerPosition{0.5, 0.5});
        host.run();
    }
    EXPECT_FALSE(host.status().hasClient);
    EXPECT_THAT(host.events(), ::testing::ElementsAre("client:-"));
    EXPECT_LE(reader->count(MessageType::videoFrame), 41u + 4u);  // at most what fits in 64 KiB
}

TEST_F(SyncServerHardeningTest, PingsFromAPhoneThatDoesNotReadCannotQueueUnboundedPongs) {
    auto phone = streamingPhone();
    host.lastServerEnd()->holdSendCompletions(true);
    const int pingsOverTheLimit = static_cast<int>(sendLimit / FramedConnection::sendOverheadBytes);
    for (int ping = 0; ping < pingsOverTheLimit && !phone->isClosed(); ++ping) {
        phone->send(MessageType::ping, Bytes(64, 0x70));
        host.run();
    }
    EXPECT_TRUE(phone->isClosed());
    EXPECT_THAT(host.events(), ::testing::ElementsAre("client:-"));
}

// MARK: - Key frames and configurations for a stalled phone

// The encoder as the hosts wire it: a key frame, preceded by its configuration, whenever one was
// asked for since the last frame.
struct EncoderStandIn {
    RecordingServer& host;
    std::size_t answered = 0;
    std::uint64_t timestamp = 0;

    // Encodes one frame; true when it was a key frame.
    bool encode() {
        const bool key = host.count("keyframe") > answered;
        answered = host.count("keyframe");
        if (key) {
            host.server->send(VideoConfig{VideoCodec::h264, 640, 360, {Bytes{0x67, 1}, Bytes{0x68, 2}}});
        }
        host.server->send(testFrame(key, 2000, ++timestamp));
        host.run();
        return key;
    }
};

// Two seconds of a phone in the background: one key frame asked for when dropping starts, none
// while the backlog holds frames back, no configuration queued for frames that were dropped. Once
// it reads again the stream resumes at a key frame, and every key frame it ever received came
// right after its configuration.
TEST_F(SyncServerHardeningTest, AStalledPhoneCostsOneKeyFrameAndEveryKeyFrameItGetsFollowsItsConfiguration) {
    auto phone = host.connect();
    phone->hello();
    host.run();  // the greeting asks for the first key frame
    EncoderStandIn encoder{host};
    ASSERT_TRUE(encoder.encode());
    host.lastServerEnd()->holdSendCompletions(true);
    const auto configsBefore = phone->count(MessageType::videoConfig);
    int keyFrames = 0;
    for (int frame = 0; frame < 60; ++frame) {
        keyFrames += encoder.encode() ? 1 : 0;
    }
    EXPECT_EQ(keyFrames, 1);
    EXPECT_EQ(phone->count(MessageType::videoConfig), configsBefore);

    host.lastServerEnd()->holdSendCompletions(false);
    host.lastServerEnd()->completeHeldSends(host.lastServerEnd()->heldSendCount());
    host.run();
    for (int frame = 0; frame < 3; ++frame) {
        encoder.encode();
    }
    const auto messages = phone->messages();
    std::size_t keyFramesReceived = 0;
    for (std::size_t index = 0; index < messages.size(); ++index) {
        const auto& [type, body] = messages[index];
        if (type == MessageType::videoFrame && VideoFrame::decode(body)->isKeyframe) {
            ++keyFramesReceived;
            ASSERT_GT(index, 0u);
            EXPECT_EQ(messages[index - 1].first, MessageType::videoConfig) << "key frame " << keyFramesReceived;
        }
    }
    EXPECT_EQ(keyFramesReceived, 2u);       // the first, and the one the stream resumed at
    EXPECT_EQ(host.count("keyframe"), 3u);  // greeting, dropping, resuming
}

TEST_F(SyncServerHardeningTest, APhoneAskingForKeyFramesWhileFramesAreHeldBackIsAnsweredOnceAtResumption) {
    auto phone = streamingPhone();
    host.lastServerEnd()->holdSendCompletions(true);
    for (int frame = 0; frame < 10; ++frame) {
        host.server->send(testFrame(false));
        host.run();
    }
    EXPECT_EQ(host.count("keyframe"), 1u);  // dropping started
    for (int request = 0; request < 30; ++request) {
        phone->send(MessageType::requestKeyframe);
    }
    host.run();
    EXPECT_EQ(host.count("keyframe"), 1u);
    host.lastServerEnd()->completeHeldSends(host.lastServerEnd()->heldSendCount());
    host.server->send(testFrame(false));
    host.run();
    EXPECT_EQ(host.count("keyframe"), 2u);
}

// MARK: - Connections in their handshake

// Whoever holds every place in the handshake cannot keep the phone out: the newest arrival
// closes the oldest waiting one.
TEST_F(SyncServerHardeningTest, AFullHandshakeTableMakesRoomByClosingTheOldest) {
    std::vector<std::shared_ptr<MemoryTransport>> stuck;
    for (int index = 0; index < 5; ++index) {
        stuck.push_back(stuckInHandshake("flood " + std::to_string(index)));
    }
    EXPECT_EQ(host.status().handshaking, 3u);
    EXPECT_TRUE(stuck[0]->isCancelled());
    EXPECT_TRUE(stuck[1]->isCancelled());
    EXPECT_FALSE(stuck[2]->isCancelled());

    auto phone = host.connect();
    phone->hello("Anna");
    host.run();
    EXPECT_TRUE(host.status().clientGreeted);
    EXPECT_TRUE(stuck[2]->isCancelled());  // the phone's own arrival made room too
    EXPECT_FALSE(stuck[4]->isCancelled());
}

// A connection in its handshake was accepted under the key and the listener of its time: a stop
// or a new key ends it, so it can neither be greeted by a stopped server nor under a revoked key.
TEST_F(SyncServerHardeningTest, StopAndANewKeyCloseConnectionsInTheirHandshake) {
    host.start(testing::keyOf(1));
    auto beforeStop = stuckInHandshake("before the stop");
    host.server->stop();
    host.run();
    EXPECT_TRUE(beforeStop->isCancelled());
    beforeStop->enterState(TransportState::ready);  // a handshake finishing just then
    host.run();
    EXPECT_FALSE(host.status().hasClient);

    host.start(testing::keyOf(1));
    auto sameKey = stuckInHandshake("same key");
    host.start(testing::keyOf(1));
    EXPECT_FALSE(sameKey->isCancelled());
    host.start(testing::keyOf(2));
    EXPECT_TRUE(sameKey->isCancelled());
    EXPECT_EQ(host.status().handshaking, 0u);
    EXPECT_THAT(host.events(), ::testing::Not(::testing::Contains("client:-")));
}

}  // namespace
}  // namespace vantrel
