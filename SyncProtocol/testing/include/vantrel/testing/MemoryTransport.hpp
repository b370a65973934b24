#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "vantrel/Transport.hpp"

namespace vantrel::testing {

// An in-memory transport for tests, fuzzers and benchmarks. Either one end of a connected pair
// (what one end sends, the other receives) or a lone end that the test scripts: bytes arriving,
// the peer ending the stream, errors, state changes, and send completions held back until the
// test releases them.
//
// Every handler runs on the queue given to start(), posted, as a real transport would deliver
// it. The scripting calls may come from any thread.
class MemoryTransport final : public Transport, public std::enable_shared_from_this<MemoryTransport> {
public:
    [[nodiscard]] static std::shared_ptr<MemoryTransport> make();
    [[nodiscard]] static std::pair<std::shared_ptr<MemoryTransport>, std::shared_ptr<MemoryTransport>> makePair();

    void setStateHandler(StateHandler handler) override;
    void start(std::shared_ptr<SerialQueue> queue) override;
    void receive(std::size_t minimum, std::size_t maximum, ReceiveHandler handler) override;
    void send(Bytes content, SendCompletion completion) override;
    void cancel() override;

    // Scripting.
    void setReadyOnStart(bool ready);  // default true: start() reports preparing, then ready
    void enterState(TransportState state, std::optional<TransportError> error = std::nullopt);
    void deliver(Bytes data);                // bytes from the peer
    void endStream();                        // the peer ends its side
    void failReceive(TransportError error);  // the current or next receive fails
    void holdSendCompletions(bool hold);     // completions wait for completeHeldSends()
    void completeHeldSends(std::size_t count, std::optional<TransportError> error = std::nullopt);

    // Observation.
    [[nodiscard]] std::vector<Bytes> sentBuffers() const;
    [[nodiscard]] std::size_t heldSendCount() const;
    [[nodiscard]] bool isCancelled() const;

private:
    MemoryTransport() = default;

    void post(std::function<void()> work);
    void satisfyReceive();  // on the queue, lock not held
    void peerReceives(Bytes data);
    void peerEnds();

    mutable std::mutex mutex_;
    std::shared_ptr<SerialQueue> queue_;
    std::weak_ptr<MemoryTransport> peer_;
    StateHandler stateHandler_;
    bool readyOnStart_ = true;
    bool cancelled_ = false;

    std::deque<Bytes> inbound_;  // received chunks, the first one read from inboundOffset_
    std::size_t inboundOffset_ = 0;
    std::size_t inboundSize_ = 0;
    bool peerEnded_ = false;
    std::optional<TransportError> receiveError_;
    struct PendingReceive {
        std::size_t minimum;
        std::size_t maximum;
        ReceiveHandler handler;
    };
    std::optional<PendingReceive> pendingReceive_;

    bool holdSends_ = false;
    std::deque<SendCompletion> heldCompletions_;
    std::vector<Bytes> sent_;  // only kept for a lone end
};

}  // namespace vantrel::testing
