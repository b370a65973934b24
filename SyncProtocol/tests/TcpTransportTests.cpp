#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>
#include <atomic>
#include <mutex>
#include <thread>

#include "vantrel/FramedConnection.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/TcpTransport.hpp"
#include "vantrel/testing/ConnectionRecord.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

// A loopback port nothing listens on (bound, read, released).
std::uint16_t closedLoopbackPort() {
    asio::io_context context;
    tcp::acceptor acceptor(context, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    return acceptor.local_endpoint().port();
}

// A framed connection on the accepting side of a real loopback socket, recording what arrives.
class LoopbackServer {
public:
    LoopbackServer() : acceptor_(queue_->context(), tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
        acceptor_.async_accept([this](const std::error_code& error, tcp::socket socket) {
            if (error) {
                return;
            }
            connection_ = FramedConnection::create(TcpTransport::accepted(std::move(socket)), hostMaxInboundLength);
            record_.attach(*connection_);
            connection_->start(queue_);
        });
    }

    ~LoopbackServer() {
        queue_->sync([this] {
            std::error_code ignored;
            acceptor_.close(ignored);
            if (connection_) {
                connection_->close();
            }
        });
        // The close runs as work of its own: once it has, the connection lets go of the queue
        // here, so the queue's thread is joined below rather than left recording into record_.
        queue_->sync([this] { connection_.reset(); });
    }

    [[nodiscard]] std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

    std::vector<std::pair<MessageType, Bytes>> messages() { return record_.messages(); }
    std::vector<std::optional<TransportError>> closes() { return record_.closes(); }

private:
    // Declared first, so it outlives the queue whose thread records into it.
    testing::ConnectionRecord record_;
    std::shared_ptr<SerialQueue> queue_ = std::make_shared<SerialQueue>("vantrel.test");
    tcp::acceptor acceptor_;
    std::shared_ptr<FramedConnection> connection_;
};

TEST(TcpTransportTest, FramesSplitOverManySegmentsOrMergedIntoOneArriveWhole) {
    LoopbackServer server;
    asio::io_context context;
    tcp::socket raw(context);
    raw.connect(tcp::endpoint(asio::ip::address_v4::loopback(), server.port()));
    raw.set_option(tcp::no_delay(true));

    Bytes merged;
    for (const auto& frame : {makeFrame(MessageType::hello, Bytes{'{', '}'}), makeFrame(MessageType::frameAck, {}),
                              makeFrame(MessageType::input, Bytes(5000, 'i'))}) {
        merged.insert(merged.end(), frame.begin(), frame.end());
    }
    asio::write(raw, asio::buffer(merged));

    const Bytes split = makeFrame(MessageType::ping, Bytes{1, 2, 3, 4, 5, 6, 7});
    for (const std::uint8_t byte : split) {
        asio::write(raw, asio::buffer(&byte, 1));
        std::this_thread::sleep_for(2ms);
    }
    raw.shutdown(tcp::socket::shutdown_send);

    ASSERT_TRUE(testing::waitUntil([&] { return !server.closes().empty(); }));
    const auto messages = server.messages();
    ASSERT_EQ(messages.size(), 4U);
    EXPECT_EQ(messages[0].first, MessageType::hello);
    EXPECT_EQ(messages[1], std::make_pair(MessageType::frameAck, Bytes{}));
    EXPECT_EQ(messages[2].second, Bytes(5000, 'i'));
    EXPECT_EQ(messages[3], std::make_pair(MessageType::ping, Bytes{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_FALSE(server.closes()[0].has_value());  // the peer's orderly end
}

TEST(TcpTransportTest, ManySendsInARowGoOutWholeAndInOrder) {
    LoopbackServer server;
    auto queue = std::make_shared<SerialQueue>("vantrel.client");
    auto client = FramedConnection::create(
        TcpTransport::connecting(queue->context(), tcp::endpoint(asio::ip::address_v4::loopback(), server.port()), 5s),
        hostMaxInboundLength);
    std::atomic<bool> ready = false;
    client->onReady = [&] { ready = true; };
    client->start(queue);
    constexpr int count = 300;
    for (int index = 0; index < count; ++index) {
        client->send(MessageType::input,
                     Bytes(static_cast<std::size_t>(index * 97 % 60000), static_cast<std::uint8_t>(index)));
    }
    ASSERT_TRUE(testing::waitUntil([&] { return server.messages().size() == count; }, 10s));
    const auto messages = server.messages();
    for (int index = 0; index < count; ++index) {
        const auto& body = messages[static_cast<std::size_t>(index)].second;
        ASSERT_EQ(body.size(), static_cast<std::size_t>(index * 97 % 60000)) << index;
        if (!body.empty()) {
            EXPECT_EQ(body.front(), static_cast<std::uint8_t>(index));
        }
    }
    EXPECT_TRUE(ready);
    std::int64_t pending = -1;
    ASSERT_TRUE(testing::waitUntil([&] {
        queue->sync([&] { pending = client->pendingSends(); });
        return pending == 0;
    }));
    client->close();
    queue->sync([] {});
}

TEST(TcpTransportTest, RefusedConnectionFailsWithItsErrorAndNeverBecomesReady) {
    const auto closedPort = closedLoopbackPort();
    auto queue = std::make_shared<SerialQueue>("vantrel.client");
    auto client = FramedConnection::create(
        TcpTransport::connecting(queue->context(), tcp::endpoint(asio::ip::address_v4::loopback(), closedPort), 5s),
        hostMaxInboundLength);
    std::atomic<int> readies = 0;
    std::mutex mutex;
    std::vector<std::optional<TransportError>> closes;
    client->onReady = [&] { ++readies; };
    client->onClosed = [&](std::optional<TransportError> error) {
        std::lock_guard lock(mutex);
        closes.push_back(error);
    };
    client->start(queue);
    ASSERT_TRUE(testing::waitUntil([&] {
        std::lock_guard lock(mutex);
        return !closes.empty();
    }));
    queue->sync([] {});
    std::lock_guard lock(mutex);
    ASSERT_EQ(closes.size(), 1U);
    ASSERT_TRUE(closes[0].has_value());
    EXPECT_EQ(*closes[0], asio::error::connection_refused);
    EXPECT_EQ(readies, 0);
}

// The framed connection clears the state handler from inside it when it ends; the transport must
// not be running the very function object that is being destroyed (AddressSanitizer sees that).
TEST(TcpTransportTest, AStateHandlerMayClearItselfWhileItRuns) {
    const auto closedPort = closedLoopbackPort();
    auto queue = std::make_shared<SerialQueue>("vantrel.client");
    auto transport =
        TcpTransport::connecting(queue->context(), tcp::endpoint(asio::ip::address_v4::loopback(), closedPort), 5s);
    std::atomic<int> failures = 0;
    auto witness = std::make_shared<int>(0);  // owned by the handler, read after it cleared itself
    transport->setStateHandler([&, transport, witness](TransportState state, std::optional<TransportError>) {
        if (state != TransportState::failed) {
            return;
        }
        transport->setStateHandler(nullptr);
        failures += *witness + 1;
    });
    queue->post([&] { transport->start(queue); });
    ASSERT_TRUE(testing::waitUntil([&] { return failures.load() > 0; }));
    queue->sync([] {});
    EXPECT_EQ(failures.load(), 1);
}

}  // namespace
}  // namespace vantrel
