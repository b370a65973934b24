#pragma once

#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "vantrel/FramedConnection.hpp"

namespace vantrel::testing {

// What one framed connection reported to its owner, recorded on the connection's queue and
// readable from the test thread.
class ConnectionRecord {
public:
    void attach(FramedConnection& connection) {
        connection.onReady = [this] {
            std::lock_guard lock(mutex_);
            ++readies_;
        };
        connection.onMessage = [this](MessageType type, Bytes body) {
            std::lock_guard lock(mutex_);
            messages_.emplace_back(type, std::move(body));
        };
        connection.onClosed = [this](std::optional<TransportError> error) {
            std::lock_guard lock(mutex_);
            closes_.push_back(error);
        };
    }

    int readies() {
        std::lock_guard lock(mutex_);
        return readies_;
    }
    std::vector<std::pair<MessageType, Bytes>> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::optional<TransportError>> closes() {
        std::lock_guard lock(mutex_);
        return closes_;
    }
    bool closed() { return !closes().empty(); }

private:
    std::mutex mutex_;
    int readies_ = 0;
    std::vector<std::pair<MessageType, Bytes>> messages_;
    std::vector<std::optional<TransportError>> closes_;
};

}  // namespace vantrel::testing
