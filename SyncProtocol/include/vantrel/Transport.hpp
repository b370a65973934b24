#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

#include "vantrel/Bytes.hpp"

namespace vantrel {

class SerialQueue;

// The states a stream transport reports, in the order a connection normally passes them.
enum class TransportState {
    setup,      // created, not started
    preparing,  // connecting and handshaking
    waiting,    // cannot proceed without a change of network; carries an error
    ready,      // bytes can flow
    failed,     // ended by an error; carries it
    cancelled,  // ended by cancel()
};

using TransportError = std::error_code;

// One established or establishing byte-stream connection (TCP, TLS over TCP, or an in-memory
// pipe in tests): what the framed connection needs of the network, and nothing more.
//
// Threading: start() names the serial queue on which every handler is called; all other calls
// are made on that queue. Pending operations keep the transport alive until they complete, so
// cancel() is the way to end one; handlers that outlive their owner must hold it weakly.
class Transport {
public:
    using StateHandler = std::function<void(TransportState, std::optional<TransportError>)>;
    // Data (possibly empty), whether the peer has ended the stream, and an error if the receive failed.
    using ReceiveHandler = std::function<void(Bytes data, bool isComplete, std::optional<TransportError>)>;
    // Called once the transport has processed the content, or with the error that stopped it.
    using SendCompletion = std::function<void(std::optional<TransportError>)>;

    virtual ~Transport() = default;

    // An empty handler removes the current one, so that a later state is not reported.
    virtual void setStateHandler(StateHandler handler) = 0;
    virtual void start(std::shared_ptr<SerialQueue> queue) = 0;

    // Completes once at least minimum and at most maximum bytes are there, or with fewer when the
    // stream ends or fails. One receive at a time.
    virtual void receive(std::size_t minimum, std::size_t maximum, ReceiveHandler handler) = 0;

    // Sends one buffer as a whole. Any number may be queued; they go out in order.
    virtual void send(Bytes content, SendCompletion completion) = 0;

    // Ends the connection: outstanding operations complete with an error, and the state handler,
    // if still installed, sees cancelled.
    virtual void cancel() = 0;
};

}  // namespace vantrel
