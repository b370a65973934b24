#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#include "vantrel/FramedConnection.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/TlsTransport.hpp"
#include "vantrel/testing/ConnectionRecord.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

const Bytes hostKey(32, 0x5A);

std::string hex(ByteView bytes) {
    std::string text;
    for (const auto byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

using Record = testing::ConnectionRecord;

// Closes once every send has left, so a peer that waits for our close (s_client) gets the reply.
void closeWhenFlushed(const std::shared_ptr<SerialQueue>& queue, const std::weak_ptr<FramedConnection>& weak) {
    queue->postAfter(5ms, [queue, weak] {
        if (auto connection = weak.lock()) {
            if (connection->pendingSends() == 0) {
                connection->close();
            } else {
                closeWhenFlushed(queue, weak);
            }
        }
    });
}

// A loopback listener whose accepted sockets become framed connections over the server side of
// the TLS transport. With echo, each message comes back with its body reversed, and the server
// then closes.
class TlsServer {
public:
    TlsServer(const Bytes& key, bool echo)
        : parameters_(SyncSecurity::parameters(key)),
          acceptor_(queue_->context(), tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
          echo_(echo) {
        accept();
    }

    ~TlsServer() {
        queue_->sync([this] {
            std::error_code ignored;
            acceptor_.close(ignored);
            for (const auto& connection : connections_) {
                connection->close();
            }
        });
        testing::settle(*queue_);
    }

    [[nodiscard]] std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
    Record& record() { return record_; }

private:
    void accept() {
        acceptor_.async_accept([this](const std::error_code& error, tcp::socket socket) {
            if (error) {
                return;
            }
            auto connection =
                FramedConnection::create(TlsTransport::accepted(std::move(socket), parameters_), hostMaxInboundLength);
            record_.attach(*connection);
            if (echo_) {
                auto recordMessage = connection->onMessage;
                connection->onMessage = [this, recordMessage, weak = std::weak_ptr(connection)](MessageType type,
                                                                                                Bytes body) {
                    recordMessage(type, body);
                    if (auto self = weak.lock()) {
                        self->send(type, Bytes(body.rbegin(), body.rend()));
                        closeWhenFlushed(queue_, weak);
                    }
                };
            }
            connections_.push_back(connection);
            connection->start(queue_);
            accept();
        });
    }

    std::shared_ptr<SerialQueue> queue_ = std::make_shared<SerialQueue>("vantrel.server");
    SyncSecurity::Parameters parameters_;
    tcp::acceptor acceptor_;
    bool echo_;
    Record record_;
    std::vector<std::shared_ptr<FramedConnection>> connections_;
};

// The client side of the TLS transport under a framed connection.
class TlsClient {
public:
    TlsClient(std::uint16_t port, const Bytes& key)
        : connection_(FramedConnection::create(
              TlsTransport::connecting(queue_->context(), tcp::endpoint(asio::ip::address_v4::loopback(), port),
                                       SyncSecurity::parameters(key)),
              hostMaxInboundLength)) {
        record_.attach(*connection_);
        connection_->start(queue_);
    }
    ~TlsClient() {
        connection_->close();
        testing::settle(*queue_);
    }

    FramedConnection& connection() { return *connection_; }
    Record& record() { return record_; }

private:
    std::shared_ptr<SerialQueue> queue_ = std::make_shared<SerialQueue>("vantrel.client");
    Record record_;
    std::shared_ptr<FramedConnection> connection_;
};

TEST(TlsTransportTest, FramesCrossBothWaysWithTheSameKey) {
    TlsServer server(hostKey, true);
    TlsClient client(server.port(), hostKey);
    const Bytes body = {1, 2, 3, 0, 0xFF, '\n'};
    client.connection().send(MessageType::ping, body);
    ASSERT_TRUE(testing::waitUntil([&] { return client.record().closed(); }, 10s));
    EXPECT_EQ(server.record().readies(), 1);
    EXPECT_EQ(client.record().readies(), 1);
    ASSERT_EQ(server.record().messages().size(), 1U);
    EXPECT_EQ(server.record().messages()[0], std::make_pair(MessageType::ping, body));
    ASSERT_EQ(client.record().messages().size(), 1U);
    EXPECT_EQ(client.record().messages()[0], std::make_pair(MessageType::ping, Bytes(body.rbegin(), body.rend())));
    // The server closes TCP without close_notify: for the client that is the stream's orderly end.
    EXPECT_EQ(client.record().closes(), std::vector<std::optional<TransportError>>{std::nullopt});
}

TEST(TlsTransportTest, LargeFramesInARowArriveWholeAndInOrder) {
    TlsServer server(hostKey, false);
    TlsClient client(server.port(), hostKey);
    constexpr int count = 40;
    for (int index = 0; index < count; ++index) {
        client.connection().send(MessageType::input,
                                 Bytes(60000 + static_cast<std::size_t>(index), static_cast<std::uint8_t>(index)));
    }
    ASSERT_TRUE(testing::waitUntil([&] { return server.record().messages().size() == count; }, 20s));
    const auto messages = server.record().messages();
    for (int index = 0; index < count; ++index) {
        const Bytes& received = messages[static_cast<std::size_t>(index)].second;
        ASSERT_EQ(received.size(), 60000 + static_cast<std::size_t>(index));
        EXPECT_EQ(received.front(), static_cast<std::uint8_t>(index));
        EXPECT_EQ(received.back(), static_cast<std::uint8_t>(index));
    }
}

TEST(TlsTransportTest, WrongKeyFailsBothSidesWithoutReadyAndWithoutTheKeyInTheError) {
    TlsServer server(hostKey, true);
    const Bytes otherKey(32, 0xA5);
    TlsClient client(server.port(), otherKey);
    client.connection().send(MessageType::ping, Bytes{1});
    ASSERT_TRUE(testing::waitUntil([&] { return client.record().closed() && server.record().closed(); }, 10s));
    for (Record* record : {&server.record(), &client.record()}) {
        EXPECT_EQ(record->readies(), 0);
        EXPECT_TRUE(record->messages().empty());
        ASSERT_EQ(record->closes().size(), 1U);
        ASSERT_TRUE(record->closes()[0].has_value());
        const std::string message = record->closes()[0]->message();
        for (const auto& secret :
             {hostKey, otherKey, SyncSecurity::preSharedKey(hostKey), SyncSecurity::preSharedKey(otherKey)}) {
            EXPECT_EQ(message.find(hex(secret).substr(0, 8)), std::string::npos) << message;
        }
    }
}

// The transport's own states, without a framed connection on top.
class StateLog {
public:
    Transport::StateHandler handler() {
        return [this](TransportState state, const std::optional<TransportError>& error) {
            std::lock_guard lock(mutex_);
            states_.push_back(state);
            errors_.push_back(error);
        };
    }
    std::vector<TransportState> states() {
        std::lock_guard lock(mutex_);
        return states_;
    }
    std::optional<TransportError> lastError() {
        std::lock_guard lock(mutex_);
        return errors_.empty() ? std::nullopt : errors_.back();
    }

private:
    std::mutex mutex_;
    std::vector<TransportState> states_;
    std::vector<std::optional<TransportError>> errors_;
};

TEST(TlsTransportTest, ReportsPreparingReadyAndCancelledAndThePeerSeesAnOrderlyEnd) {
    auto queue = std::make_shared<SerialQueue>("vantrel.test");
    const auto parameters = SyncSecurity::parameters(hostKey);
    tcp::acceptor acceptor(queue->context(), tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    StateLog serverLog;
    StateLog clientLog;
    std::shared_ptr<Transport> server;
    acceptor.async_accept([&](const std::error_code& error, tcp::socket socket) {
        ASSERT_FALSE(error);
        server = TlsTransport::accepted(std::move(socket), parameters);
        server->setStateHandler(serverLog.handler());
        server->start(queue);
    });
    auto client = TlsTransport::connecting(queue->context(), acceptor.local_endpoint(), parameters);
    client->setStateHandler(clientLog.handler());
    client->start(queue);
    const std::vector<TransportState> readySequence = {TransportState::preparing, TransportState::ready};
    ASSERT_TRUE(
        testing::waitUntil([&] { return serverLog.states() == readySequence && clientLog.states() == readySequence; }));

    std::atomic<bool> received = false;
    std::atomic<bool> ended = false;
    queue->sync([&] {
        client->send(Bytes{'h', 'i'}, [](std::optional<TransportError> error) { EXPECT_FALSE(error); });
        server->receive(2, 2, [&](Bytes data, bool isComplete, std::optional<TransportError> error) {
            EXPECT_EQ(data, (Bytes{'h', 'i'}));
            EXPECT_FALSE(isComplete || error);
            received = true;
            server->receive(1, 10, [&](Bytes rest, bool restComplete, std::optional<TransportError> restError) {
                EXPECT_TRUE(rest.empty());
                EXPECT_TRUE(restComplete);
                EXPECT_FALSE(restError) << restError->message();
                ended = true;
            });
        });
    });
    ASSERT_TRUE(testing::waitUntil([&] { return received.load(); }));
    queue->sync([&] { client->cancel(); });
    ASSERT_TRUE(testing::waitUntil([&] { return ended.load(); }));
    testing::settle(*queue);
    EXPECT_EQ(clientLog.states().back(), TransportState::cancelled);
    queue->sync([&] { server->cancel(); });
    testing::settle(*queue);
}

// A host that takes the TCP connection but never answers the handshake must not hold a client
// for ever: the connect deadline covers the handshake too.
TEST(TlsTransportTest, ClientGivesUpOnASilentHostAfterTheConnectTimeout) {
    auto queue = std::make_shared<SerialQueue>("vantrel.test");
    tcp::acceptor acceptor(queue->context(), tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    tcp::socket silent(queue->context());
    acceptor.async_accept(silent, [](const std::error_code&) {});
    StateLog log;
    auto client =
        TlsTransport::connecting(queue->context(), acceptor.local_endpoint(), SyncSecurity::parameters(hostKey));
    client->setStateHandler(log.handler());
    client->start(queue);
    ASSERT_TRUE(testing::waitUntil([&] { return log.states().size() == 2; }, 30s));
    EXPECT_EQ(log.states().back(), TransportState::failed);
    EXPECT_EQ(log.lastError(), std::make_error_code(std::errc::timed_out));
    queue->sync([&] {
        std::error_code ignored;
        silent.close(ignored);
        acceptor.close(ignored);
    });
}

// s_client, run through the shell into files of a private directory.
class OpenSslClient {
public:
    OpenSslClient() {
        char pattern[] = "/tmp/vantrel-tls-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            directory_ = pattern;
        }
    }
    ~OpenSslClient() {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    static bool available() { return std::system("command -v openssl >/dev/null 2>&1") == 0; }

    // Sends request on stdin and returns the exit status; -quiet keeps s_client open after the
    // end of its input until the server closes, and timeout ends it if the server never does.
    int run(std::uint16_t port, const std::string& options, const Bytes& request) {
        std::ofstream(directory_ / "request", std::ios::binary)
            .write(reinterpret_cast<const char*>(request.data()), static_cast<std::streamsize>(request.size()));
        const std::string command = "timeout 15 openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " " +
                                    options + " -quiet < " + (directory_ / "request").string() + " > " +
                                    (directory_ / "reply").string() + " 2> " + (directory_ / "errors").string();
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    Bytes reply() const { return read("reply"); }
    std::string errors() const {
        const Bytes text = read("errors");
        return {text.begin(), text.end()};
    }

private:
    Bytes read(const char* name) const {
        std::ifstream file(directory_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path directory_;
};

const std::string suiteAndIdentity = "-tls1_2 -cipher ECDHE-PSK-CHACHA20-POLY1305 -psk_identity vantrel";

TEST(TlsTransportTest, OpenSslClientExchangesAFrameWithOurServer) {
    if (!OpenSslClient::available()) {
        GTEST_SKIP() << "openssl command not installed";
    }
    TlsServer server(hostKey, true);
    OpenSslClient peer;
    // NUL, CR, LF and a "Q" at a line start would upset a line-oriented client; -quiet passes them.
    const Bytes body = {'Q', 0, '\r', '\n', 0xFF, 0x80, 'Q'};
    const int status = peer.run(server.port(), suiteAndIdentity + " -psk " + hex(SyncSecurity::preSharedKey(hostKey)),
                                makeFrame(MessageType::ping, body));
    EXPECT_EQ(status, 0) << peer.errors();
    EXPECT_EQ(peer.reply(), makeFrame(MessageType::ping, Bytes(body.rbegin(), body.rend()))) << peer.errors();
    EXPECT_EQ(server.record().readies(), 1);
    EXPECT_EQ(server.record().messages(), (std::vector{std::make_pair(MessageType::ping, body)}));
}

struct Refusal {
    std::string name;
    std::string options;  // everything but -connect and -quiet; @psk stands for the right key in hex
};

class OpenSslClientRefused : public ::testing::TestWithParam<Refusal> {};

TEST_P(OpenSslClientRefused, FailsTheHandshakeOnOurServer) {
    if (!OpenSslClient::available()) {
        GTEST_SKIP() << "openssl command not installed";
    }
    TlsServer server(hostKey, true);
    OpenSslClient peer;
    std::string options = GetParam().options;
    if (const auto at = options.find("@psk"); at != std::string::npos) {
        options.replace(at, 4, hex(SyncSecurity::preSharedKey(hostKey)));
    }
    const int status = peer.run(server.port(), options, makeFrame(MessageType::ping, Bytes{1, 2, 3}));
    EXPECT_NE(status, 0);
    EXPECT_TRUE(peer.reply().empty());
    ASSERT_TRUE(testing::waitUntil([&] { return server.record().closed(); }));
    EXPECT_EQ(server.record().readies(), 0);
    EXPECT_TRUE(server.record().messages().empty());
    ASSERT_TRUE(server.record().closes()[0].has_value());
}

INSTANTIATE_TEST_SUITE_P(
    TlsTransportTest, OpenSslClientRefused,
    ::testing::Values(Refusal{"Tls13", "-tls1_3 -psk @psk -psk_identity vantrel"},
                      Refusal{"OtherPskSuite", "-tls1_2 -cipher PSK-AES128-GCM-SHA256 -psk @psk -psk_identity vantrel"},
                      Refusal{"CertificateSuites", "-tls1_2"},
                      Refusal{"OtherIdentity",
                              "-tls1_2 -cipher ECDHE-PSK-CHACHA20-POLY1305 -psk @psk -psk_identity vantrex"},
                      Refusal{"PairingKeyInsteadOfDerivedKey",
                              "-tls1_2 -cipher ECDHE-PSK-CHACHA20-POLY1305 -psk "
                              "5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a "
                              "-psk_identity vantrel"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

}  // namespace
}  // namespace vantrel
