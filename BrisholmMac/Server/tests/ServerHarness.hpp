#pragma once

// A SyncServer on loopback with TLS, a driven clock and recorded callbacks, and a scriptable
// phone built on FramedConnection: what the server tests share.

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FakeServiceAdvertiser.hpp"
#include "SyncServer.hpp"
#include "vantrel/FramedConnection.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/SyncSecurity.hpp"
#include "vantrel/TlsTransport.hpp"
#include "vantrel/Transport.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::testing {

inline Bytes keyOf(std::uint8_t fill) {
    return Bytes(32, fill);
}

// Wraps a server-side transport so a test can hold its send completions back, which keeps the
// connection's pendingSends up as a slow phone would.
class HoldingTransport final : public Transport {
public:
    explicit HoldingTransport(std::shared_ptr<Transport> inner) : inner_(std::move(inner)) {}

    void setStateHandler(StateHandler handler) override { inner_->setStateHandler(std::move(handler)); }
    void start(std::shared_ptr<SerialQueue> queue) override {
        {
            std::lock_guard lock(state_->mutex);
            state_->queue = queue;
        }
        inner_->start(std::move(queue));
    }
    void receive(std::size_t minimum, std::size_t maximum, ReceiveHandler handler) override {
        inner_->receive(minimum, maximum, std::move(handler));
    }
    void send(Bytes content, SendCompletion completion) override {
        inner_->send(std::move(content),
                     [state = state_, completion = std::move(completion)](std::optional<TransportError> error) mutable {
                         std::unique_lock lock(state->mutex);
                         if (state->holding) {
                             state->held.emplace_back(std::move(completion), error);
                             return;
                         }
                         lock.unlock();
                         completion(error);
                     });
    }
    void cancel() override { inner_->cancel(); }

    void hold() {
        std::lock_guard lock(state_->mutex);
        state_->holding = true;
    }
    // Stops holding and delivers the held completions on the connection's queue.
    void release() {
        std::lock_guard lock(state_->mutex);
        state_->holding = false;
        auto held = std::move(state_->held);
        state_->held.clear();
        state_->queue->post([held = std::move(held)]() mutable {
            for (auto& [completion, error] : held) {
                completion(error);
            }
        });
    }

private:
    struct State {
        std::mutex mutex;
        bool holding = false;
        std::shared_ptr<SerialQueue> queue;
        std::vector<std::pair<SendCompletion, std::optional<TransportError>>> held;
    };
    std::shared_ptr<Transport> inner_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

struct HarnessConfig {
    std::chrono::nanoseconds greetingDeadline = std::chrono::seconds(10);
    std::size_t maxHandshaking = 64;
    asio::ip::address_v4 listenAddress = asio::ip::address_v4::loopback();
    std::function<bool(const asio::ip::tcp::endpoint&)> isAllowedPeer = [](const auto&) { return true; };
};

// The server under test with every callback recorded as one line of text, in call order.
class ServerHarness {
public:
    explicit ServerHarness(HarnessConfig config = {}) {
        SyncServer::Options options;
        options.monotonicNow = [clock = clock_] { return std::chrono::nanoseconds(clock->load()); };
        options.greetingDeadline = config.greetingDeadline;
        options.listenAddress = config.listenAddress;
        options.isAllowedPeer = config.isAllowedPeer;
        options.advertiser = advertiser;
        options.maxHandshaking = config.maxHandshaking;
        options.security = [transports = transports_](const Bytes& key) -> std::optional<SyncServer::TransportFactory> {
            auto parameters = std::make_shared<const SyncSecurity::Parameters>(SyncSecurity::parameters(key));
            return SyncServer::TransportFactory([parameters, transports](asio::ip::tcp::socket socket) {
                auto transport =
                    std::make_shared<HoldingTransport>(TlsTransport::accepted(std::move(socket), *parameters));
                std::lock_guard lock(transports->mutex);
                transports->list.push_back(transport);
                return transport;
            });
        };
        server = SyncServer::create(std::move(options));
        server->onClientChanged = [this](std::optional<std::string> name) { record("client:" + name.value_or("-")); };
        server->onInput = [this](const InputEvent& event) { record("input:" + describe(event)); };
        server->onKeyframeRequest = [this] { record("keyframe"); };
        server->onSelectDisplay = [this](std::uint32_t display) { record("display:" + std::to_string(display)); };
        server->onOpenApp = [this](const std::string& id) { record("open:" + id); };
        server->onListening = [this](std::optional<std::uint16_t> port) {
            record("listening:" + (port ? std::to_string(*port) : std::string("-")));
            std::lock_guard lock(mutex_);
            listened_.push_back(port);
        };
        server->onBitrateChange = [this](std::int64_t bitrate) { record("bitrate:" + std::to_string(bitrate)); };
    }

    ~ServerHarness() { server.reset(); }

    // Starts and waits for the listening report.
    std::optional<std::uint16_t> start(Bytes key, std::uint16_t port = 0) {
        const auto before = listenedCount();
        server->start(std::move(key), port);
        EXPECT_TRUE(waitUntil([&] { return listenedCount() > before; }));
        std::lock_guard lock(mutex_);
        return listened_.empty() ? std::nullopt : listened_.back();
    }

    SyncServer::Status status() {
        std::promise<SyncServer::Status> promise;
        auto future = promise.get_future();
        server->readStatus([&promise](const SyncServer::Status& status) { promise.set_value(status); });
        return future.get();
    }

    // Lets posted work and the sends it posts in turn run to the end.
    void settle() {
        for (int round = 0; round < 4; ++round) {
            status();
        }
    }

    std::vector<std::string> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    void clearEvents() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    bool waitForEvent(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return waitUntil(
            [&] {
                auto all = events();
                return std::find(all.begin(), all.end(), event) != all.end();
            },
            timeout);
    }
    std::size_t listenedCount() {
        std::lock_guard lock(mutex_);
        return listened_.size();
    }
    std::vector<std::optional<std::uint16_t>> listened() {
        std::lock_guard lock(mutex_);
        return listened_;
    }
    std::shared_ptr<HoldingTransport> lastTransport() {
        std::lock_guard lock(transports_->mutex);
        return transports_->list.empty() ? nullptr : transports_->list.back().lock();
    }

    void setClock(std::chrono::nanoseconds now) { clock_->store(now.count()); }

    std::shared_ptr<FakeServiceAdvertiser> advertiser = std::make_shared<FakeServiceAdvertiser>();
    std::shared_ptr<SyncServer> server;

private:
    void record(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    struct Transports {
        std::mutex mutex;
        // Weak: a transport kept alive here could outlive its queue's event loop.
        std::vector<std::weak_ptr<HoldingTransport>> list;
    };
    std::shared_ptr<std::atomic<std::int64_t>> clock_ = std::make_shared<std::atomic<std::int64_t>>(0);
    std::shared_ptr<Transports> transports_ = std::make_shared<Transports>();
    std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<std::optional<std::uint16_t>> listened_;
};

// A phone: TLS with the given key to the server's port, everything it receives recorded.
class TestPhone {
public:
    TestPhone(std::uint16_t port, const Bytes& key,
              std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>("vantrel.phone"))
        : queue_(std::move(queue)) {
        auto transport =
            TlsTransport::connecting(queue_->context(), asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port),
                                     SyncSecurity::parameters(key));
        connection_ = FramedConnection::create(transport, 1 << 24);
        auto state = state_;
        connection_->onReady = [state] {
            std::lock_guard lock(state->mutex);
            state->ready = true;
        };
        connection_->onMessage = [state](MessageType type, Bytes body) {
            std::lock_guard lock(state->mutex);
            state->messages.emplace_back(type, std::move(body));
            state->arrivals.push_back(std::chrono::steady_clock::now());
        };
        connection_->onClosed = [state](std::optional<TransportError>) {
            std::lock_guard lock(state->mutex);
            state->closed = true;
        };
        connection_->start(queue_);
    }

    ~TestPhone() {
        connection_->close();
        queue_->sync([] {});
    }

    TestPhone(const TestPhone&) = delete;
    TestPhone& operator=(const TestPhone&) = delete;

    void send(MessageType type, const Bytes& body = {}) { connection_->send(type, body); }
    void sendText(MessageType type, const std::string& json) { send(type, Bytes(json.begin(), json.end())); }
    void hello(const std::string& name, std::int64_t version = SyncProtocolVersion::current) {
        send(MessageType::hello, JSONMessage::encode(Hello{version, name}));
    }

    bool waitReady() {
        return waitUntil([&] { return isReady() || isClosed(); }) && isReady();
    }
    bool waitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return waitUntil([&] { return isClosed(); }, timeout);
    }
    bool waitForMessages(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return waitUntil([&] { return messageCount() >= count; }, timeout);
    }
    // Connects, greets and waits for the welcome.
    bool greet(const std::string& name) {
        if (!waitReady()) {
            return false;
        }
        hello(name);
        return waitUntil([&] { return !ofType(MessageType::welcome).empty() || isClosed(); }) &&
               !ofType(MessageType::welcome).empty();
    }

    bool isReady() {
        std::lock_guard lock(state_->mutex);
        return state_->ready;
    }
    bool isClosed() {
        std::lock_guard lock(state_->mutex);
        return state_->closed;
    }
    std::size_t messageCount() {
        std::lock_guard lock(state_->mutex);
        return state_->messages.size();
    }
    std::vector<std::pair<MessageType, Bytes>> messages() {
        std::lock_guard lock(state_->mutex);
        return state_->messages;
    }
    std::vector<MessageType> types() {
        std::vector<MessageType> result;
        for (const auto& message : messages()) {
            result.push_back(message.first);
        }
        return result;
    }
    std::vector<Bytes> ofType(MessageType type) {
        std::vector<Bytes> result;
        for (const auto& message : messages()) {
            if (message.first == type) {
                result.push_back(message.second);
            }
        }
        return result;
    }
    std::vector<std::chrono::steady_clock::time_point> arrivals() {
        std::lock_guard lock(state_->mutex);
        return state_->arrivals;
    }

private:
    struct State {
        std::mutex mutex;
        bool ready = false;
        bool closed = false;
        std::vector<std::pair<MessageType, Bytes>> messages;
        std::vector<std::chrono::steady_clock::time_point> arrivals;
    };
    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::shared_ptr<FramedConnection> connection_;
};

// A TCP connection that never starts TLS: the kind of stray that only the deadline ends.
class SilentSocket {
public:
    explicit SilentSocket(std::uint16_t port) : socket_(context_) {
        std::error_code error;
        socket_.connect(asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port), error);
        connected_ = !error;
    }

    [[nodiscard]] bool connected() const { return connected_; }

    // Whether the server has closed its end: a read then ends the stream (or is reset).
    bool closedByServer(std::chrono::milliseconds timeout) {
        if (!connected_) {
            return true;
        }
        socket_.non_blocking(true);
        return waitUntil(
            [&] {
                std::uint8_t byte = 0;
                std::error_code error;
                socket_.read_some(asio::buffer(&byte, 1), error);
                return error && error != asio::error::would_block;
            },
            timeout);
    }

private:
    asio::io_context context_;
    asio::ip::tcp::socket socket_;
    bool connected_ = false;
};

inline VideoFrame testFrame(bool key, std::size_t size = 1000, std::uint64_t timestamp = 0) {
    return VideoFrame{key, timestamp, Bytes(size, key ? 0x4B : 0x44)};
}

inline Welcome testWelcome(const std::string& hostName = "host") {
    Welcome welcome;
    welcome.hostName = hostName;
    welcome.displays = {DisplayInfo{1, "L", 1920, 1080}};
    welcome.activeDisplay = 1;
    welcome.canControl = true;
    return welcome;
}

}  // namespace vantrel::testing
