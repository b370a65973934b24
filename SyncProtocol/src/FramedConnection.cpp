#include "vantrel/FramedConnection.hpp"

#include <array>
#include <cassert>
#include <cstring>

#include "vantrel/SerialQueue.hpp"

namespace vantrel {

const char* describe(ConnectionEnd end) {
    switch (end) {
        case ConnectionEnd::open: return "open";
        case ConnectionEnd::closedHere: return "closed by this side";
        case ConnectionEnd::peerEnded: return "the peer ended the connection";
        case ConnectionEnd::badFrame: return "bad frame (length over the limit or unknown message type)";
        case ConnectionEnd::failed: return "transport failure";
        case ConnectionEnd::sendLimit: return "too much unsent data (the peer stopped reading)";
    }
    return "unknown";
}

std::shared_ptr<FramedConnection> FramedConnection::create(std::shared_ptr<Transport> connection,
                                                           std::int64_t maxInboundLength,
                                                           std::int64_t maxQueuedSendBytes) {
    return std::shared_ptr<FramedConnection>(
        new FramedConnection(std::move(connection), maxInboundLength, maxQueuedSendBytes));
}

FramedConnection::FramedConnection(std::shared_ptr<Transport> connection, std::int64_t maxInboundLength,
                                   std::int64_t maxQueuedSendBytes)
    : connection_(std::move(connection)),
      maxInboundLength_(maxInboundLength),
      maxQueuedSendBytes_(maxQueuedSendBytes) {}

void FramedConnection::start(std::shared_ptr<SerialQueue> queue) {
    queue_ = std::move(queue);
    std::weak_ptr<FramedConnection> weakSelf = weak_from_this();
    connection_->setStateHandler([weakSelf](TransportState state, std::optional<TransportError> error) {
        if (auto self = weakSelf.lock()) {
            self->handleState(state, error);
        }
    });
    connection_->start(queue_);
}

void FramedConnection::handleState(TransportState state, const std::optional<TransportError>& error) {
    assert(onOwnQueue());
    switch (state) {
        case TransportState::setup:
        case TransportState::preparing: break;
        case TransportState::ready:
            if (onReady) {
                onReady();
            }
            readHeader();
            break;
        case TransportState::waiting:
        case TransportState::failed:
            // A connection that would otherwise wait for a change of network ends at once.
            end(ConnectionEnd::failed, error);
            break;
        case TransportState::cancelled: end(ConnectionEnd::closedHere); break;
    }
}

void FramedConnection::readHeader() {
    std::weak_ptr<FramedConnection> weakSelf = weak_from_this();
    connection_->receive(frameHeaderLength, frameHeaderLength,
                         [weakSelf](Bytes data, bool isComplete, std::optional<TransportError> error) {
                             auto self = weakSelf.lock();
                             if (!self || self->closed_) {
                                 return;
                             }
                             if (error || data.size() != frameHeaderLength) {
                                 // The peer ending the stream between frames is an orderly end.
                                 self->end(error ? ConnectionEnd::failed : ConnectionEnd::peerEnded, error);
                                 return;
                             }
                             std::array<std::uint8_t, frameHeaderLength> raw{};
                             std::memcpy(raw.data(), data.data(), frameHeaderLength);
                             const auto header = readFrameHeader(raw, self->maxInboundLength_);
                             if (!header) {
                                 self->end(ConnectionEnd::badFrame);
                                 return;
                             }
                             if (header->length == 0) {
                                 self->deliver(header->type, {}, isComplete);
                                 return;
                             }
                             self->readBody(header->type, header->length);
                         });
}

void FramedConnection::readBody(MessageType type, std::uint32_t length) {
    std::weak_ptr<FramedConnection> weakSelf = weak_from_this();
    connection_->receive(length, length,
                         [weakSelf, type, length](Bytes data, bool isComplete, std::optional<TransportError> error) {
                             auto self = weakSelf.lock();
                             if (!self || self->closed_) {
                                 return;
                             }
                             if (error || data.size() != length) {
                                 self->end(error ? ConnectionEnd::failed : ConnectionEnd::peerEnded, error);
                                 return;
                             }
                             self->deliver(type, std::move(data), isComplete);
                         });
}

void FramedConnection::deliver(MessageType type, Bytes body, bool streamComplete) {
    if (onMessage) {
        onMessage(type, std::move(body));
    }
    // The owner may have closed the connection from inside its callback.
    if (closed_) {
        return;
    }
    if (streamComplete) {
        end(ConnectionEnd::peerEnded);
    } else {
        readHeader();
    }
}

void FramedConnection::send(MessageType type, ByteView body) {
    runOnQueue([weakSelf = weak_from_this(), frame = makeFrame(type, body)]() mutable {
        if (auto self = weakSelf.lock()) {
            self->sendFrame(std::move(frame));
        }
    });
}

void FramedConnection::sendFrame(Bytes frame) {
    if (closed_) {
        return;
    }
    const auto cost = static_cast<std::int64_t>(frame.size()) + sendOverheadBytes;
    if (cost > maxQueuedSendBytes_ - queuedSendBytes_) {
        end(ConnectionEnd::sendLimit);
        return;
    }
    ++pendingSends_;
    queuedSendBytes_ += cost;
    std::weak_ptr<FramedConnection> weakSelf = weak_from_this();
    connection_->send(std::move(frame), [weakSelf, cost](std::optional<TransportError> error) {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        // Every completion counts, also after the end and also with an error, so the backlog
        // the owner reads never sticks above the truth.
        --self->pendingSends_;
        self->queuedSendBytes_ -= cost;
        if (error) {
            self->end(ConnectionEnd::failed, error);
        }
    });
}

void FramedConnection::close() {
    // Holds the connection until the close has run, so a caller may drop its reference at once.
    runOnQueue([self = shared_from_this()] { self->end(ConnectionEnd::closedHere); });
}

void FramedConnection::end(ConnectionEnd reason, std::optional<TransportError> error) {
    if (closed_) {
        return;
    }
    closed_ = true;
    endReason_ = reason;
    // The coming cancelled state would be a second report of the same end.
    connection_->setStateHandler(nullptr);
    connection_->cancel();
    if (onClosed) {
        onClosed(error);
    }
}

void FramedConnection::runOnQueue(std::function<void()> work) {
    // Before start() nothing else can reach the connection, so the caller's thread will do.
    if (!queue_) {
        work();
        return;
    }
    queue_->post(std::move(work));
}

bool FramedConnection::onOwnQueue() const {
    return !queue_ || queue_->isCurrent();
}

}  // namespace vantrel
