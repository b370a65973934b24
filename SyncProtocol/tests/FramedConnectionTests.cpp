#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

#include "vantrel/FramedConnection.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/testing/MemoryTransport.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using testing::MemoryTransport;
using testing::settle;

// Everything a framed connection told its owner, in order.
struct Recording {
    int readyCount = 0;
    std::vector<std::pair<MessageType, Bytes>> messages;
    std::vector<std::optional<TransportError>> closes;
    std::vector<std::string> events;  // "ready", "message", "closed" in arrival order
};

class FramedConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        transport = MemoryTransport::make();
        connection = FramedConnection::create(transport, hostMaxInboundLength);
        record(connection, recording);
    }

    void record(const std::shared_ptr<FramedConnection>& target, Recording& into) {
        target->onReady = [&into] {
            ++into.readyCount;
            into.events.emplace_back("ready");
        };
        target->onMessage = [&into](MessageType type, Bytes body) {
            into.messages.emplace_back(type, std::move(body));
            into.events.emplace_back("message");
        };
        target->onClosed = [&into](std::optional<TransportError> error) {
            into.closes.push_back(error);
            into.events.emplace_back("closed");
        };
    }

    void startAndSettle() {
        connection->start(queue);
        settle(*queue);
    }

    std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>("vantrel.test");
    std::shared_ptr<MemoryTransport> transport;
    std::shared_ptr<FramedConnection> connection;
    Recording recording;
};

TEST_F(FramedConnectionTest, FramesSplitOrMergedArriveOneMessagePerFrame) {
    startAndSettle();
    Bytes stream;
    for (const auto& frame : {makeFrame(MessageType::input, Bytes{'a', 'b', 'c'}), makeFrame(MessageType::frameAck, {}),
                              makeFrame(MessageType::ping, Bytes(1000, 7))}) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    // Byte by byte for the first half, then the rest as one segment.
    const std::size_t half = stream.size() / 2;
    for (std::size_t index = 0; index < half; ++index) {
        transport->deliver(Bytes{stream[index]});
    }
    transport->deliver(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(half), stream.end()));
    settle(*queue, 64);

    ASSERT_EQ(recording.messages.size(), 3U);
    EXPECT_EQ(recording.messages[0], std::make_pair(MessageType::input, Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(recording.messages[1], std::make_pair(MessageType::frameAck, Bytes{}));
    EXPECT_EQ(recording.messages[2], std::make_pair(MessageType::ping, Bytes(1000, 7)));
    EXPECT_TRUE(recording.closes.empty());
    EXPECT_EQ(recording.events.front(), "ready");
}

TEST_F(FramedConnectionTest, LengthLimitIsInclusiveAndAnOversizedHeaderClosesBeforeAnyBody) {
    startAndSettle();
    transport->deliver(makeFrame(MessageType::ping, Bytes(hostMaxInboundLength, 1)));
    settle(*queue);
    ASSERT_EQ(recording.messages.size(), 1U);
    EXPECT_EQ(recording.messages[0].second.size(), 65536U);

    transport->deliver(Bytes{0x00, 0x01, 0x00, 0x01, rawValue(MessageType::ping)});  // 65,537
    settle(*queue);
    EXPECT_EQ(recording.messages.size(), 1U);
    ASSERT_EQ(recording.closes.size(), 1U);
    EXPECT_FALSE(recording.closes[0].has_value());
    EXPECT_TRUE(transport->isCancelled());
}

class UnknownTypeTest : public FramedConnectionTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(UnknownTypeTest, ClosesWithoutErrorOrMessage) {
    startAndSettle();
    transport->deliver(Bytes{0, 0, 0, 1, GetParam(), 0xEE});
    settle(*queue);
    EXPECT_TRUE(recording.messages.empty());
    ASSERT_EQ(recording.closes.size(), 1U);
    EXPECT_FALSE(recording.closes[0].has_value());
}

INSTANTIATE_TEST_SUITE_P(TypeBytes, UnknownTypeTest, ::testing::Values(0, 14, 255));

TEST_F(FramedConnectionTest, ZeroLengthFrameIsDeliveredAndReadingGoesOn) {
    startAndSettle();
    transport->deliver(makeFrame(MessageType::requestKeyframe, {}));
    transport->deliver(makeFrame(MessageType::frameAck, {}));
    settle(*queue);
    ASSERT_EQ(recording.messages.size(), 2U);
    EXPECT_EQ(recording.messages[0], std::make_pair(MessageType::requestKeyframe, Bytes{}));
    EXPECT_EQ(recording.messages[1], std::make_pair(MessageType::frameAck, Bytes{}));
}

TEST_F(FramedConnectionTest, FrameFollowedByThePeersEndIsDeliveredThenClosedOnceWithoutError) {
    startAndSettle();
    transport->deliver(makeFrame(MessageType::input, Bytes{'x'}));
    transport->endStream();
    settle(*queue);
    EXPECT_EQ(recording.events, (std::vector<std::string>{"ready", "message", "closed"}));
    EXPECT_FALSE(recording.closes.at(0).has_value());
}

TEST_F(FramedConnectionTest, StreamEndingInsideAFrameClosesWithoutErrorAndWithoutTheFrame) {
    startAndSettle();
    transport->deliver(Bytes{0, 0, 0, 10, rawValue(MessageType::input), 1, 2, 3});
    transport->endStream();
    settle(*queue);
    EXPECT_TRUE(recording.messages.empty());
    ASSERT_EQ(recording.closes.size(), 1U);
    EXPECT_FALSE(recording.closes[0].has_value());
}

TEST_F(FramedConnectionTest, ReceiveErrorIsHandedOnAsTheCloseReason) {
    startAndSettle();
    const auto reset = std::make_error_code(std::errc::connection_reset);
    transport->failReceive(reset);
    settle(*queue);
    ASSERT_EQ(recording.closes.size(), 1U);
    EXPECT_EQ(recording.closes[0], reset);
}

TEST_F(FramedConnectionTest, CloseTwiceOrAfterAFailureReportsOnce) {
    startAndSettle();
    connection->close();
    connection->close();
    transport->enterState(TransportState::failed, std::make_error_code(std::errc::io_error));
    settle(*queue);
    ASSERT_EQ(recording.closes.size(), 1U);
    EXPECT_FALSE(recording.closes[0].has_value());
}

TEST_F(FramedConnectionTest, WaitingTransportClosesWithItsErrorAndNeverReportsReady) {
    transport->setReadyOnStart(false);
    startAndSettle();
    const auto unreachable = std::make_error_code(std::errc::network_unreachable);
    transport->enterState(TransportState::waiting, unreachable);
    transport->enterState(TransportState::ready);  // too late: the connection has ended
    settle(*queue);
    EXPECT_EQ(recording.readyCount, 0);
    ASSERT_EQ(recording.closes.size(), 1U);
    EXPECT_EQ(recording.closes[0], unreachable);
}

TEST_F(FramedConnectionTest, CancelledByAnotherPartyClosesWithoutError) {
    startAndSettle();
    transport->enterState(TransportState::cancelled);
    settle(*queue);
    ASSERT_EQ(recording.closes.size(), 1U);
    EXPECT_FALSE(recording.closes[0].has_value());
}

TEST_F(FramedConnectionTest, PendingSendsFollowCompletionsIncludingFailedOnes) {
    transport->holdSendCompletions(true);
    startAndSettle();
    std::int64_t observed = -1;
    const auto pending = [&] {
        queue->sync([&] { observed = connection->pendingSends(); });
        return observed;
    };

    for (int index = 0; index < 3; ++index) {
        connection->send(MessageType::pointer, Bytes{'{', '}'});
    }
    settle(*queue);
    EXPECT_EQ(pending(), 3);

    transport->completeHeldSends(1);
    settle(*queue);
    EXPECT_EQ(pending(), 2);

    const auto broken = std::make_error_code(std::errc::broken_pipe);
    transport->completeHeldSends(1, broken);
    settle(*queue);
    EXPECT_EQ(pending(), 1);
    ASSERT_EQ(recording.closes.size(), 1U);
    EXPECT_EQ(recording.closes[0], broken);

    // A completion after the end still counts; a send after the end is dropped uncounted.
    transport->completeHeldSends(1);
    connection->send(MessageType::pointer, Bytes{'{', '}'});
    settle(*queue);
    EXPECT_EQ(pending(), 0);
    EXPECT_EQ(transport->sentBuffers().size(), 3U);
}

TEST_F(FramedConnectionTest, SendAfterCloseSendsNothing) {
    startAndSettle();
    connection->close();
    connection->send(MessageType::pong, Bytes{1});
    settle(*queue);
    EXPECT_TRUE(transport->sentBuffers().empty());
    std::int64_t pending = -1;
    queue->sync([&] { pending = connection->pendingSends(); });
    EXPECT_EQ(pending, 0);
}

TEST_F(FramedConnectionTest, SendWritesOneFramePerMessage) {
    startAndSettle();
    connection->send(MessageType::pong, Bytes{9, 8});
    settle(*queue);
    ASSERT_EQ(transport->sentBuffers().size(), 1U);
    EXPECT_EQ(transport->sentBuffers()[0], (Bytes{0, 0, 0, 2, rawValue(MessageType::pong), 9, 8}));
}

TEST_F(FramedConnectionTest, DroppingTheLastReferenceSilencesPendingCallbacks) {
    startAndSettle();
    std::weak_ptr<FramedConnection> watch = connection;
    connection.reset();  // a receive is pending on the transport
    EXPECT_TRUE(watch.expired());
    transport->deliver(makeFrame(MessageType::input, Bytes{'y'}));
    transport->enterState(TransportState::failed, std::make_error_code(std::errc::io_error));
    settle(*queue);
    EXPECT_TRUE(recording.messages.empty());
    EXPECT_TRUE(recording.closes.empty());
}

TEST_F(FramedConnectionTest, CallbacksMayCloseTheConnectionFromInside) {
    connection->onMessage = [this](MessageType, Bytes) {
        recording.events.emplace_back("message");
        connection->close();
    };
    startAndSettle();
    transport->deliver(makeFrame(MessageType::input, Bytes{'1'}));
    transport->deliver(makeFrame(MessageType::input, Bytes{'2'}));
    settle(*queue);
    EXPECT_EQ(recording.events, (std::vector<std::string>{"ready", "message", "closed"}));
}

TEST(FramedConnectionPairTest, TwoEndsExchangeMessagesBothWays) {
    auto queue = std::make_shared<SerialQueue>("vantrel.test");
    auto [hostEnd, phoneEnd] = MemoryTransport::makePair();
    auto host = FramedConnection::create(hostEnd, hostMaxInboundLength);
    auto phone = FramedConnection::create(phoneEnd, 1 << 20);
    std::vector<MessageType> hostGot;
    std::vector<MessageType> phoneGot;
    bool phoneClosed = false;
    host->onMessage = [&](MessageType type, Bytes) { hostGot.push_back(type); };
    phone->onMessage = [&](MessageType type, Bytes) { phoneGot.push_back(type); };
    phone->onClosed = [&](std::optional<TransportError> error) { phoneClosed = !error.has_value(); };
    host->start(queue);
    phone->start(queue);
    phone->send(MessageType::hello, Bytes{'{', '}'});
    host->send(MessageType::welcome, Bytes{'{', '}'});
    host->send(MessageType::videoFrame, Bytes(200000, 3));
    settle(*queue);
    host->close();
    settle(*queue);
    EXPECT_EQ(hostGot, (std::vector<MessageType>{MessageType::hello}));
    EXPECT_EQ(phoneGot, (std::vector<MessageType>{MessageType::welcome, MessageType::videoFrame}));
    EXPECT_TRUE(phoneClosed);
}

}  // namespace
}  // namespace vantrel
