// Random byte streams through the frame reader on the in-memory transport: it must not crash
// or leak, must report the end at most once, and must never deliver a body above the limit.
#include <cstdlib>

#include "vantrel/FramedConnection.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/testing/MemoryTransport.hpp"

namespace {

// One queue for the whole run: a thread per input would dominate the fuzzer's time.
std::shared_ptr<vantrel::SerialQueue>& sharedQueue() {
    static auto queue = std::make_shared<vantrel::SerialQueue>("vantrel.fuzz");
    return queue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel;
    constexpr std::int64_t limit = 1024;  // small, so random lengths hit both sides of it
    auto& queue = sharedQueue();
    auto transport = testing::MemoryTransport::make();
    auto connection = FramedConnection::create(transport, limit);
    int closes = 0;
    connection->onMessage = [](MessageType, Bytes body) {
        if (static_cast<std::int64_t>(body.size()) > limit) {
            std::abort();
        }
    };
    connection->onClosed = [&closes](std::optional<TransportError>) { ++closes; };
    connection->start(queue);

    // The first byte picks segment sizes, so that splits inside headers and bodies are explored.
    const std::size_t segment = size == 0 ? 1 : (data[0] % 16) + 1;
    for (std::size_t offset = 1; offset < size; offset += segment) {
        const std::size_t end = std::min(size, offset + segment);
        transport->deliver(Bytes(data + offset, data + end));
    }
    transport->endStream();
    for (int round = 0; round < 4096 && closes == 0; ++round) {
        queue->sync([] {});
    }
    if (closes != 1) {
        std::abort();
    }
    connection->close();
    queue->sync([] {});
    return 0;
}
