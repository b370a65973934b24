// The server's send path with 100 KB frames to one phone over loopback TLS: how many frames per
// second send(frame) can push, and how long one frame takes from the call to the phone's receipt
// (queue hop, congestion check, encoding, framing, TLS write, loopback and the phone's read).
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>

#include "SyncServer.hpp"
#include "vantrel/FramedConnection.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/SyncSecurity.hpp"
#include "vantrel/TlsTransport.hpp"

namespace {

using namespace vantrel;
using asio::ip::tcp;

constexpr std::size_t frameSize = 100 * 1024;

// A server on loopback and one greeted phone that counts the frames it receives.
class Session {
public:
    Session() {
        SyncServer::Options options;
        options.monotonicNow = [] {
            return std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch());
        };
        options.listenAddress = asio::ip::address_v4::loopback();
        options.security = [](const Bytes& key) -> std::optional<SyncServer::TransportFactory> {
            auto parameters = std::make_shared<const SyncSecurity::Parameters>(SyncSecurity::parameters(key));
            return SyncServer::TransportFactory(
                [parameters](tcp::socket socket) { return TlsTransport::accepted(std::move(socket), *parameters); });
        };
        options.isAllowedPeer = [](const tcp::endpoint& remote) {
            return SyncSecurity::isAllowedPeer(SyncSecurity::Endpoint::from(remote));
        };
        server = SyncServer::create(std::move(options));
        server->setWelcome(Welcome{});

        // Both callbacks run on the server's queue and outlive this constructor's locals.
        server->onListening = [this](std::optional<std::uint16_t> port) {
            std::call_once(listeningOnce, [&] { listening.set_value(port); });
        };
        server->onKeyframeRequest = [this] { std::call_once(greetedOnce, [&] { greeted.set_value(); }); };
        const Bytes key(32, 0x42);
        server->start(key, 0);
        const auto port = listening.get_future().get().value();

        phone = FramedConnection::create(
            TlsTransport::connecting(phoneQueue->context(), tcp::endpoint(asio::ip::address_v4::loopback(), port),
                                     SyncSecurity::parameters(key)),
            1 << 24);
        phone->onReady = [this] {
            phone->send(MessageType::hello, JSONMessage::encode(Hello{SyncProtocolVersion::current, "bench"}));
        };
        phone->onMessage = [this](MessageType type, const Bytes&) {
            if (type != MessageType::videoFrame) {
                return;
            }
            std::lock_guard lock(mutex);
            ++received;
            arrived.notify_all();
        };
        phone->start(phoneQueue);
        greeted.get_future().wait();
    }

    ~Session() {
        phone->close();
        phoneQueue->sync([] {});
        server.reset();
    }

    void waitUntilReceived(std::int64_t count) {
        std::unique_lock lock(mutex);
        arrived.wait(lock, [&] { return received >= count; });
    }

    std::promise<std::optional<std::uint16_t>> listening;
    std::once_flag listeningOnce;
    std::promise<void> greeted;
    std::once_flag greetedOnce;
    std::shared_ptr<SyncServer> server;
    std::shared_ptr<SerialQueue> phoneQueue = std::make_shared<SerialQueue>("vantrel.phone");
    std::shared_ptr<FramedConnection> phone;
    std::mutex mutex;
    std::condition_variable arrived;
    std::int64_t received = 0;
};

// Frames per second with up to four frames on their way, below the backlog that starts dropping.
// Every frame is a key frame, so the stream could always resume.
void sendFrameThroughput(benchmark::State& state) {
    Session session;
    const VideoFrame frame{true, 0, Bytes(frameSize, 0x5A)};
    std::int64_t sent = 0;
    for (auto _ : state) {
        session.server->send(frame);
        ++sent;
        session.waitUntilReceived(sent - 4);
    }
    session.waitUntilReceived(sent);
    state.SetItemsProcessed(sent);
    state.SetBytesProcessed(sent * static_cast<std::int64_t>(frameSize));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
}
BENCHMARK(sendFrameThroughput)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One frame at a time: the time from send(frame) to the phone holding the whole frame.
void sendFrameLatency(benchmark::State& state) {
    Session session;
    const VideoFrame frame{true, 0, Bytes(frameSize, 0x5A)};
    std::int64_t sent = 0;
    for (auto _ : state) {
        session.server->send(frame);
        session.waitUntilReceived(++sent);
    }
    state.SetItemsProcessed(sent);
}
BENCHMARK(sendFrameLatency)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
