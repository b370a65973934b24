#include "Phone.hpp"

#include <algorithm>
#include <asio/ip/tcp.hpp>

#include "vantrel/ControlMessages.hpp"
#include "vantrel/SyncSecurity.hpp"
#include "vantrel/TlsTransport.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::testing {

// Written on the phone's queue, read by the test: behind a lock, and held by the callbacks so
// that a late one never writes into a destroyed phone.
struct Phone::Record {
    mutable std::mutex mutex;
    bool ready = false;
    bool closed = false;
    std::vector<std::pair<MessageType, Bytes>> messages;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
};

Phone::Phone(std::shared_ptr<Transport> transport, std::shared_ptr<SerialQueue> queue)
    : queue_(std::move(queue)), record_(std::make_shared<Record>()) {
    connection_ = FramedConnection::create(std::move(transport), 1 << 26);
    connection_->onReady = [record = record_] {
        const std::lock_guard lock(record->mutex);
        record->ready = true;
    };
    connection_->onMessage = [record = record_](MessageType type, Bytes body) {
        const std::lock_guard lock(record->mutex);
        record->messages.emplace_back(type, std::move(body));
        record->arrivals.push_back(std::chrono::steady_clock::now());
    };
    connection_->onClosed = [record = record_](const std::optional<TransportError>&) {
        const std::lock_guard lock(record->mutex);
        record->closed = true;
    };
    connection_->start(queue_);
}

std::unique_ptr<Phone> Phone::overTls(std::uint16_t port, const Bytes& key, std::shared_ptr<SerialQueue> queue) {
    if (!queue) {
        queue = std::make_shared<SerialQueue>("test.phone");
    }
    auto transport =
        TlsTransport::connecting(queue->context(), asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port),
                                 SyncSecurity::parameters(key));
    return std::make_unique<Phone>(std::move(transport), std::move(queue));
}

Phone::~Phone() {
    connection_->close();
    // A phone on its own queue lets the close run before the queue goes; on the test's manual
    // queue this returns at once and the close runs with the test's next step.
    queue_->sync([] {});
}

void Phone::hello(const std::string& name, std::int64_t version) {
    sendJSON(MessageType::hello, Hello{version, name});
}

bool Phone::isReady() const {
    const std::lock_guard lock(record_->mutex);
    return record_->ready;
}

bool Phone::isClosed() const {
    const std::lock_guard lock(record_->mutex);
    return record_->closed;
}

std::vector<std::pair<MessageType, Bytes>> Phone::messages() const {
    const std::lock_guard lock(record_->mutex);
    return record_->messages;
}

std::vector<std::pair<MessageType, Bytes>> Phone::messagesFrom(std::size_t first) const {
    const std::lock_guard lock(record_->mutex);
    const auto& all = record_->messages;
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end()};
}

std::vector<std::chrono::steady_clock::time_point> Phone::arrivals() const {
    const std::lock_guard lock(record_->mutex);
    return record_->arrivals;
}

std::vector<MessageType> Phone::types() const {
    std::vector<MessageType> types;
    for (const auto& message : messages()) {
        types.push_back(message.first);
    }
    return types;
}

std::vector<Bytes> Phone::ofType(MessageType type) const {
    std::vector<Bytes> bodies;
    for (const auto& [messageType, body] : messages()) {
        if (messageType == type) {
            bodies.push_back(body);
        }
    }
    return bodies;
}

bool Phone::waitReady(std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return isReady() || isClosed(); }, timeout) && isReady();
}

bool Phone::waitClosed(std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return isClosed(); }, timeout);
}

bool Phone::waitForCount(MessageType type, std::size_t count, std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return ofType(type).size() >= count; }, timeout);
}

bool Phone::greet(const std::string& name) {
    if (!waitReady()) {
        return false;
    }
    hello(name);
    return waitUntil([&] { return count(MessageType::welcome) > 0 || isClosed(); }) && count(MessageType::welcome) > 0;
}

}  // namespace vantrel::testing
