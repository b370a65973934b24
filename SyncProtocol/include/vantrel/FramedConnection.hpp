#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

#include "vantrel/Bytes.hpp"
#include "vantrel/Frame.hpp"
#include "vantrel/MessageType.hpp"
#include "vantrel/Transport.hpp"

namespace vantrel {

class SerialQueue;

// Why a framed connection ended, for the owner's diagnostics. The closed report itself stays as
// the protocol has it (an error only for a transport failure).
enum class ConnectionEnd {
    open,        // not ended yet
    closedHere,  // close() or cancel on this side
    peerEnded,   // the peer ended the stream between or inside frames
    badFrame,    // a header with a length over the limit or an unknown message type
    failed,      // the transport failed; the error was reported
    sendLimit,   // more unsent data than the connection's limit: the peer stopped reading
};

[[nodiscard]] const char* describe(ConnectionEnd end);

// One transport connection turned into whole messages: it reports readiness, reads frames one
// after another and hands each to its owner, writes each outgoing message as a single frame,
// counts the sends still in flight, and reports the end of the connection exactly once.
// It knows nothing of message bodies.
//
// Lives on the queue given to start(): every callback, every read of the closed flag and every
// change of pendingSends happens there. send() and close() may be called from any thread; they
// hop onto the queue. The callbacks are held strongly, so owners capture the connection weakly
// inside them; the transport's pending completions hold the connection weakly, so dropping the
// owner's last reference silences them. Dropping it does not cancel the transport: call close().
class FramedConnection : public std::enable_shared_from_this<FramedConnection> {
public:
    // No limit on what waits to be sent unless one is given.
    static constexpr std::int64_t unlimited = std::numeric_limits<std::int64_t>::max();
    // What one queued send costs beyond its bytes (its completion and the queue's bookkeeping),
    // so that a flood of tiny messages counts against the limit too.
    static constexpr std::int64_t sendOverheadBytes = 64;

    // maxQueuedSendBytes bounds the memory a peer that stops reading can make this side hold:
    // a send that would take the bytes handed to the transport and not yet completed (each
    // counted with sendOverheadBytes) above it ends the connection instead (sendLimit).
    [[nodiscard]] static std::shared_ptr<FramedConnection> create(std::shared_ptr<Transport> connection,
                                                                  std::int64_t maxInboundLength,
                                                                  std::int64_t maxQueuedSendBytes = unlimited);

    FramedConnection(const FramedConnection&) = delete;
    FramedConnection& operator=(const FramedConnection&) = delete;
    ~FramedConnection() = default;

    std::function<void()> onReady;
    std::function<void(MessageType, Bytes)> onMessage;
    // No error for an orderly end (close(), the peer ending the stream, a framing violation).
    std::function<void(std::optional<TransportError>)> onClosed;

    [[nodiscard]] const std::shared_ptr<Transport>& connection() const { return connection_; }

    // Frames handed to the transport whose completion has not arrived. Read it on the queue.
    [[nodiscard]] std::int64_t pendingSends() const { return pendingSends_; }
    // Their bytes, each with sendOverheadBytes. Read it on the queue.
    [[nodiscard]] std::int64_t queuedSendBytes() const { return queuedSendBytes_; }

    // Why the connection ended; read it on the queue, for example inside onClosed.
    [[nodiscard]] ConnectionEnd endReason() const { return endReason_; }

    // Set the callbacks first. The queue must be the one the transport delivers on.
    void start(std::shared_ptr<SerialQueue> queue);

    // Frames the body on the caller's thread (one copy) and sends it on the queue; dropped
    // silently once the connection has closed. Failures surface through onClosed.
    void send(MessageType type, ByteView body);

    // Ends the connection with no error; idempotent.
    void close();

private:
    FramedConnection(std::shared_ptr<Transport> connection, std::int64_t maxInboundLength,
                     std::int64_t maxQueuedSendBytes);

    void handleState(TransportState state, const std::optional<TransportError>& error);
    void readHeader();
    void readBody(MessageType type, std::uint32_t length);
    void deliver(MessageType type, Bytes body, bool streamComplete);
    void sendFrame(Bytes frame);
    void end(ConnectionEnd reason, std::optional<TransportError> error = std::nullopt);
    void runOnQueue(std::function<void()> work);
    [[nodiscard]] bool onOwnQueue() const;

    const std::shared_ptr<Transport> connection_;
    const std::int64_t maxInboundLength_;
    const std::int64_t maxQueuedSendBytes_;
    std::shared_ptr<SerialQueue> queue_;
    std::int64_t pendingSends_ = 0;
    std::int64_t queuedSendBytes_ = 0;
    bool closed_ = false;
    ConnectionEnd endReason_ = ConnectionEnd::open;
};

}  // namespace vantrel
