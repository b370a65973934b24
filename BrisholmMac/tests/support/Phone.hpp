#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "vantrel/Bytes.hpp"
#include "vantrel/FramedConnection.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/MessageType.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/Transport.hpp"

namespace vantrel::testing {

// The phone stand-in of the host tests: a framed connection that sends what the test says and
// records everything it receives, in order. Over an in-memory transport on the test's own queue
// (deterministic: the test runs the queue) or over TLS to a host on loopback (on a queue of its
// own: the test waits).
class Phone {
public:
    Phone(std::shared_ptr<Transport> transport, std::shared_ptr<SerialQueue> queue);
    // TLS with key to a host listening on loopback at port; on a queue of its own unless given one.
    [[nodiscard]] static std::unique_ptr<Phone> overTls(std::uint16_t port, const Bytes& key,
                                                        std::shared_ptr<SerialQueue> queue = nullptr);

    ~Phone();
    Phone(const Phone&) = delete;
    Phone& operator=(const Phone&) = delete;

    void send(MessageType type, const Bytes& body = {}) { connection_->send(type, body); }
    void sendText(MessageType type, const std::string& body) { send(type, Bytes(body.begin(), body.end())); }
    template <typename Body>
    void sendJSON(MessageType type, const Body& body) {
        send(type, JSONMessage::encode(body));
    }
    void hello(const std::string& name = "Telefon", std::int64_t version = SyncProtocolVersion::current);
    void leave() { connection_->close(); }

    [[nodiscard]] bool isReady() const;
    [[nodiscard]] bool isClosed() const;
    [[nodiscard]] std::vector<std::pair<MessageType, Bytes>> messages() const;
    // The messages from the first-th on: a reader that keeps up with a stream copies only what is new.
    [[nodiscard]] std::vector<std::pair<MessageType, Bytes>> messagesFrom(std::size_t first) const;
    [[nodiscard]] std::vector<MessageType> types() const;
    [[nodiscard]] std::vector<Bytes> ofType(MessageType type) const;
    [[nodiscard]] std::size_t count(MessageType type) const { return ofType(type).size(); }
    // When each message arrived, in order.
    [[nodiscard]] std::vector<std::chrono::steady_clock::time_point> arrivals() const;
    // The last message of type, decoded as JSON; none when there is none or it does not decode.
    template <typename Body>
    [[nodiscard]] std::optional<Body> last(MessageType type) const {
        const auto all = ofType(type);
        return all.empty() ? std::nullopt : JSONMessage::decode<Body>(all.back());
    }

    // For phones on a queue of their own (TLS): wait for the state the test needs.
    bool waitReady(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool waitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool waitForCount(MessageType type, std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Through TLS, hello, and the welcome back.
    bool greet(const std::string& name = "Telefon");

private:
    struct Record;
    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<Record> record_;
    std::shared_ptr<FramedConnection> connection_;
};

}  // namespace vantrel::testing
