// Frames through the in-memory transport, both directions of the framing layer: the writer
// frames the body (one copy), the reader takes it out of the transport's buffer (one copy).
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

#include "vantrel/FramedConnection.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/testing/MemoryTransport.hpp"

namespace {

using namespace vantrel;

void framesThroughMemoryTransport(benchmark::State& state) {
    const auto bodySize = static_cast<std::size_t>(state.range(0));
    auto queue = std::make_shared<SerialQueue>("vantrel.bench");
    auto [senderEnd, receiverEnd] = testing::MemoryTransport::makePair();
    auto sender = FramedConnection::create(senderEnd, 1 << 20);
    auto receiver = FramedConnection::create(receiverEnd, 1 << 20);

    std::mutex mutex;
    std::condition_variable arrived;
    std::int64_t received = 0;
    receiver->onMessage = [&](MessageType, Bytes body) {
        benchmark::DoNotOptimize(body.data());
        std::lock_guard lock(mutex);
        ++received;
        arrived.notify_one();
    };
    sender->start(queue);
    receiver->start(queue);

    const Bytes body(bodySize, 0x5A);
    std::int64_t sent = 0;
    for (auto _ : state) {
        sender->send(MessageType::videoFrame, body);
        ++sent;
        std::unique_lock lock(mutex);
        arrived.wait(lock, [&] { return received == sent; });
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bodySize));
    sender->close();
    receiver->close();
    queue->sync([] {});
}

BENCHMARK(framesThroughMemoryTransport)->Arg(100)->Arg(10 * 1024)->Arg(200 * 1024)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
