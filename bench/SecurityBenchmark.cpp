// The cost of the TLS layer on loopback.
// - Handshakes per second: how fast a flood of connecting strangers can make the host spend CPU
//   (each one costs a full ECDHE-PSK handshake before a wrong key shows).
// - Bulk throughput of 100 KB frames through FramedConnection over the TLS transport: the ceiling
//   for video frames, far above what the encoder produces.
#include <benchmark/benchmark.h>

#include <asio/ip/tcp.hpp>
#include <condition_variable>
#include <mutex>

#include "vantrel/FramedConnection.hpp"
#include "vantrel/PairingInfo.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/TlsTransport.hpp"

namespace {

using namespace vantrel;
using asio::ip::tcp;

// Counts events from other threads and lets the benchmark thread wait for a number of them.
class Counter {
public:
    void add() {
        std::lock_guard lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    void waitFor(std::int64_t target) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return count_ >= target; });
    }
    std::int64_t count() {
        std::lock_guard lock(mutex_);
        return count_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::int64_t count_ = 0;
};

// A loopback listener on its own queue that hands each accepted socket to the server side of
// the TLS transport.
class Listener {
public:
    explicit Listener(const SyncSecurity::Parameters& parameters,
                      std::function<void(std::shared_ptr<Transport>)> onAccepted)
        : parameters_(parameters),
          acceptor_(queue_->context(), tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
          onAccepted_(std::move(onAccepted)) {
        accept();
    }
    ~Listener() {
        queue_->sync([this] {
            std::error_code ignored;
            acceptor_.close(ignored);
        });
    }

    tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }
    const std::shared_ptr<SerialQueue>& queue() const { return queue_; }

private:
    void accept() {
        acceptor_.async_accept([this](const std::error_code& error, tcp::socket socket) {
            if (error) {
                return;
            }
            onAccepted_(TlsTransport::accepted(std::move(socket), parameters_));
            accept();
        });
    }

    std::shared_ptr<SerialQueue> queue_ = std::make_shared<SerialQueue>("vantrel.server");
    SyncSecurity::Parameters parameters_;
    tcp::acceptor acceptor_;
    std::function<void(std::shared_ptr<Transport>)> onAccepted_;
};

void tlsHandshakes(benchmark::State& state) {
    const auto parameters = SyncSecurity::parameters(PairingInfo::generateKey());
    std::shared_ptr<SerialQueue> serverQueue;
    Listener listener(parameters, [&serverQueue](std::shared_ptr<Transport> transport) {
        // Weak: the pending handshake holds the transport, and a strong capture would never let go.
        transport->setStateHandler(
            [weak = std::weak_ptr(transport)](TransportState current, const std::optional<TransportError>&) {
                if (auto self = weak.lock(); self && current == TransportState::ready) {
                    self->cancel();
                }
            });
        transport->start(serverQueue);
    });
    serverQueue = listener.queue();

    auto clientQueue = std::make_shared<SerialQueue>("vantrel.client");
    Counter handshakes;
    Counter failures;
    std::int64_t started = 0;
    for (auto _ : state) {
        auto client = TlsTransport::connecting(clientQueue->context(), listener.endpoint(), parameters);
        client->setStateHandler(
            [&, weak = std::weak_ptr(client)](TransportState current, const std::optional<TransportError>&) {
                if (current == TransportState::ready) {
                    handshakes.add();
                    if (auto self = weak.lock()) {
                        self->cancel();
                    }
                } else if (current == TransportState::failed) {
                    failures.add();
                    handshakes.add();
                }
            });
        client->start(clientQueue);
        handshakes.waitFor(++started);
    }
    clientQueue->sync([] {});
    state.counters["failed"] = static_cast<double>(failures.count());
    state.SetItemsProcessed(state.iterations());
}

void tlsBulkFrames(benchmark::State& state) {
    const auto bodySize = static_cast<std::size_t>(state.range(0));
    constexpr std::int64_t window = 16;  // frames in flight, as a sender with a backlog limit keeps
    const auto parameters = SyncSecurity::parameters(PairingInfo::generateKey());

    Counter received;
    std::shared_ptr<FramedConnection> receiver;
    std::shared_ptr<SerialQueue> serverQueue;
    Listener listener(parameters, [&](std::shared_ptr<Transport> transport) {
        receiver = FramedConnection::create(std::move(transport), 1 << 20);
        receiver->onMessage = [&received](MessageType, Bytes body) {
            benchmark::DoNotOptimize(body.data());
            received.add();
        };
        receiver->start(serverQueue);
    });
    serverQueue = listener.queue();

    auto clientQueue = std::make_shared<SerialQueue>("vantrel.client");
    auto sender = FramedConnection::create(
        TlsTransport::connecting(clientQueue->context(), listener.endpoint(), parameters), 1 << 20);
    Counter ready;
    sender->onReady = [&ready] { ready.add(); };
    sender->start(clientQueue);
    ready.waitFor(1);

    const Bytes body(bodySize, 0x5A);
    std::int64_t sent = 0;
    for (auto _ : state) {
        sender->send(MessageType::videoFrame, body);
        ++sent;
        received.waitFor(sent - window);
    }
    received.waitFor(sent);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bodySize));
    sender->close();
    serverQueue->sync([&] {
        if (receiver) {
            receiver->close();
        }
    });
    clientQueue->sync([] {});
}

BENCHMARK(tlsHandshakes)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(tlsBulkFrames)->Arg(100 * 1000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
