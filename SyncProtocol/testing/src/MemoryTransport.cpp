#include "vantrel/testing/MemoryTransport.hpp"

#include <algorithm>
#include <cstring>

#include "vantrel/SerialQueue.hpp"

namespace vantrel::testing {

std::shared_ptr<MemoryTransport> MemoryTransport::make() {
    return std::shared_ptr<MemoryTransport>(new MemoryTransport());
}

std::pair<std::shared_ptr<MemoryTransport>, std::shared_ptr<MemoryTransport>> MemoryTransport::makePair() {
    auto first = make();
    auto second = make();
    first->peer_ = second;
    second->peer_ = first;
    return {first, second};
}

void MemoryTransport::post(std::function<void()> work) {
    std::shared_ptr<SerialQueue> queue;
    {
        std::lock_guard lock(mutex_);
        queue = queue_;
    }
    if (queue) {
        queue->post(std::move(work));
    } else {
        work();
    }
}

void MemoryTransport::setStateHandler(StateHandler handler) {
    std::lock_guard lock(mutex_);
    stateHandler_ = std::move(handler);
}

void MemoryTransport::start(std::shared_ptr<SerialQueue> queue) {
    bool ready = false;
    {
        std::lock_guard lock(mutex_);
        queue_ = std::move(queue);
        ready = readyOnStart_;
    }
    enterState(TransportState::preparing);
    if (ready) {
        enterState(TransportState::ready);
    }
}

void MemoryTransport::setReadyOnStart(bool ready) {
    std::lock_guard lock(mutex_);
    readyOnStart_ = ready;
}

void MemoryTransport::enterState(TransportState state, std::optional<TransportError> error) {
    post([self = shared_from_this(), state, error] {
        StateHandler handler;
        {
            std::lock_guard lock(self->mutex_);
            handler = self->stateHandler_;
        }
        if (handler) {
            handler(state, error);
        }
    });
}

void MemoryTransport::receive(std::size_t minimum, std::size_t maximum, ReceiveHandler handler) {
    {
        std::lock_guard lock(mutex_);
        pendingReceive_ = PendingReceive{minimum, maximum, std::move(handler)};
    }
    post([self = shared_from_this()] { self->satisfyReceive(); });
}

void MemoryTransport::satisfyReceive() {
    ReceiveHandler handler;
    Bytes data;
    bool complete = false;
    std::optional<TransportError> error;
    {
        std::lock_guard lock(mutex_);
        if (!pendingReceive_) {
            return;
        }
        if (receiveError_) {
            error = receiveError_;
        } else if (inboundSize_ >= pendingReceive_->minimum || peerEnded_ || cancelled_) {
            const std::size_t count = std::min(pendingReceive_->maximum, inboundSize_);
            data.reserve(count);
            while (data.size() < count) {
                Bytes& chunk = inbound_.front();
                const std::size_t take = std::min(count - data.size(), chunk.size() - inboundOffset_);
                data.insert(data.end(), chunk.begin() + static_cast<std::ptrdiff_t>(inboundOffset_),
                            chunk.begin() + static_cast<std::ptrdiff_t>(inboundOffset_ + take));
                inboundOffset_ += take;
                if (inboundOffset_ == chunk.size()) {
                    inbound_.pop_front();
                    inboundOffset_ = 0;
                }
            }
            inboundSize_ -= count;
            complete = (peerEnded_ || cancelled_) && inboundSize_ == 0;
            if (cancelled_ && data.size() < pendingReceive_->minimum) {
                error = std::make_error_code(std::errc::operation_canceled);
            }
        } else {
            return;
        }
        handler = std::move(pendingReceive_->handler);
        pendingReceive_.reset();
    }
    handler(std::move(data), complete, error);
}

void MemoryTransport::send(Bytes content, SendCompletion completion) {
    std::shared_ptr<MemoryTransport> peer;
    bool hold = false;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) {
            post([completion = std::move(completion)] {
                completion(std::make_error_code(std::errc::operation_canceled));
            });
            return;
        }
        peer = peer_.lock();
        if (!peer) {
            sent_.push_back(content);
        }
        hold = holdSends_;
        if (hold) {
            heldCompletions_.push_back(std::move(completion));
        }
    }
    if (peer) {
        peer->peerReceives(std::move(content));
    }
    if (!hold) {
        post([completion = std::move(completion)] { completion(std::nullopt); });
    }
}

void MemoryTransport::peerReceives(Bytes data) {
    if (data.empty()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        inboundSize_ += data.size();
        inbound_.push_back(std::move(data));
    }
    post([self = shared_from_this()] { self->satisfyReceive(); });
}

void MemoryTransport::peerEnds() {
    {
        std::lock_guard lock(mutex_);
        peerEnded_ = true;
    }
    post([self = shared_from_this()] { self->satisfyReceive(); });
}

void MemoryTransport::cancel() {
    std::shared_ptr<MemoryTransport> peer;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) {
            return;
        }
        cancelled_ = true;
        peer = peer_.lock();
    }
    if (peer) {
        peer->peerEnds();
    }
    enterState(TransportState::cancelled);
    post([self = shared_from_this()] { self->satisfyReceive(); });
}

void MemoryTransport::deliver(Bytes data) {
    peerReceives(std::move(data));
}

void MemoryTransport::endStream() {
    peerEnds();
}

void MemoryTransport::failReceive(TransportError error) {
    {
        std::lock_guard lock(mutex_);
        receiveError_ = error;
    }
    post([self = shared_from_this()] { self->satisfyReceive(); });
}

void MemoryTransport::holdSendCompletions(bool hold) {
    std::lock_guard lock(mutex_);
    holdSends_ = hold;
}

void MemoryTransport::completeHeldSends(std::size_t count, std::optional<TransportError> error) {
    std::deque<SendCompletion> released;
    {
        std::lock_guard lock(mutex_);
        count = std::min(count, heldCompletions_.size());
        for (std::size_t index = 0; index < count; ++index) {
            released.push_back(std::move(heldCompletions_.front()));
            heldCompletions_.pop_front();
        }
    }
    for (auto& completion : released) {
        post([completion = std::move(completion), error] { completion(error); });
    }
}

std::vector<Bytes> MemoryTransport::sentBuffers() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::size_t MemoryTransport::heldSendCount() const {
    std::lock_guard lock(mutex_);
    return heldCompletions_.size();
}

bool MemoryTransport::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

}  // namespace vantrel::testing
