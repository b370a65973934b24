#pragma once

#include <asio/buffer.hpp>
#include <asio/error.hpp>
#include <asio/execution/context.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/query.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <cassert>
#include <deque>
#include <memory>
#include <utility>

#include "vantrel/SerialQueue.hpp"
#include "vantrel/Transport.hpp"

namespace vantrel::detail {

// The part of a transport that every Asio byte stream shares (plain TCP, TLS over TCP): state
// reports, exact-size receives, and a write queue that keeps one async_write in flight so any
// number of sends in a row go out whole and in order. Subclasses say how the stream becomes
// ready (establish) and how it is torn down (closeStream).
//
// Lives on the queue given to start(), which must be the one whose io_context the stream was
// made on: every completion then arrives there. Pending operations hold the transport strongly
// (the Asio idiom), which is why the owner ends it with cancel(). The transport does not hold
// the queue: it posts through the stream's own executor, so that destroying the queue (which
// destroys the pending operations) also releases every transport still waiting on it.
template <typename Stream>
class AsioStreamTransport : public Transport, public std::enable_shared_from_this<AsioStreamTransport<Stream>> {
public:
    void setStateHandler(StateHandler handler) override { stateHandler_ = std::move(handler); }

    void start(std::shared_ptr<SerialQueue> queue) override {
        assert(&queue->context() == &context());
        (void)queue;
        asio::post(context(), [self = this->shared_from_this()] {
            if (self->cancelled_) {
                return;
            }
            self->report(TransportState::preparing, std::nullopt);
            self->establish([self](std::optional<TransportError> error) {
                if (self->cancelled_) {
                    return;
                }
                if (error) {
                    self->failed_ = true;
                    self->closeStream();
                    self->failQueuedWrites(*error);
                    self->report(TransportState::failed, error);
                    return;
                }
                self->established_ = true;
                self->report(TransportState::ready, std::nullopt);
                if (!self->writing_ && !self->writes_.empty()) {
                    self->writeNext();
                }
            });
        });
    }

    void receive(std::size_t minimum, std::size_t maximum, ReceiveHandler handler) override {
        auto buffer = std::make_shared<Bytes>(maximum);
        asio::async_read(stream_, asio::buffer(*buffer), asio::transfer_at_least(minimum),
                         [self = this->shared_from_this(), buffer, handler = std::move(handler)](
                             const std::error_code& error, std::size_t count) mutable {
                             buffer->resize(count);
                             if (!error) {
                                 handler(std::move(*buffer), false, std::nullopt);
                             } else if (self->isOrderlyEnd(error)) {
                                 handler(std::move(*buffer), true, std::nullopt);
                             } else {
                                 handler(std::move(*buffer), false, error);
                             }
                         });
    }

    void send(Bytes content, SendCompletion completion) override {
        if (cancelled_ || failed_) {
            asio::post(context(), [completion = std::move(completion)] { completion(asio::error::operation_aborted); });
            return;
        }
        writes_.emplace_back(std::move(content), std::move(completion));
        // The framed connection may send before it hears "ready" (a phone greets at once);
        // those sends wait for the stream, since neither a connecting socket nor an unfinished
        // TLS handshake can carry them.
        if (established_ && !writing_) {
            writeNext();
        }
    }

    void cancel() override {
        if (cancelled_) {
            return;
        }
        cancelled_ = true;
        closeStream();
        if (!writing_) {
            failQueuedWrites(asio::error::operation_aborted);
        }
        asio::post(context(),
                   [self = this->shared_from_this()] { self->report(TransportState::cancelled, std::nullopt); });
    }

protected:
    template <typename... Args>
    explicit AsioStreamTransport(Args&&... streamArguments) : stream_(std::forward<Args>(streamArguments)...) {}

    using EstablishDone = std::function<void(std::optional<TransportError>)>;

    // Brings the stream to the point where application bytes can flow, then calls done once.
    virtual void establish(EstablishDone done) = 0;
    // Closes the underlying socket; outstanding operations then complete with an error.
    virtual void closeStream() = 0;
    // Whether a receive error means the peer ended the stream rather than a failure.
    virtual bool isOrderlyEnd(const std::error_code& error) const { return error == asio::error::eof; }

    Stream& stream() { return stream_; }
    // The event loop of the queue the transport lives on.
    asio::io_context& context() {
        return static_cast<asio::io_context&>(asio::query(stream_.get_executor(), asio::execution::context));
    }

private:
    void report(TransportState state, std::optional<TransportError> error) {
        // A copy: the handler may replace or clear itself from inside the call (the framed
        // connection does when it ends), which would destroy the function while it runs.
        const auto handler = stateHandler_;
        if (handler) {
            handler(state, error);
        }
    }

    // Every send completes exactly once, so the owner's count of sends in flight never sticks.
    void failQueuedWrites(const std::error_code& error) {
        auto abandoned = std::move(writes_);
        writes_.clear();
        for (auto& write : abandoned) {
            asio::post(context(), [completion = std::move(write.second), error] { completion(error); });
        }
    }

    void writeNext() {
        writing_ = true;
        asio::async_write(stream_, asio::buffer(writes_.front().first),
                          [self = this->shared_from_this()](const std::error_code& error, std::size_t) {
                              auto completion = std::move(self->writes_.front().second);
                              self->writes_.pop_front();
                              self->writing_ = false;
                              if (error) {
                                  // The stream is unusable: everything queued behind fails the same way.
                                  auto abandoned = std::move(self->writes_);
                                  self->writes_.clear();
                                  completion(error);
                                  for (auto& write : abandoned) {
                                      write.second(error);
                                  }
                                  return;
                              }
                              completion(std::nullopt);
                              if (!self->writing_ && !self->writes_.empty()) {
                                  self->writeNext();
                              }
                          });
    }

    Stream stream_;
    StateHandler stateHandler_;
    std::deque<std::pair<Bytes, SendCompletion>> writes_;
    bool writing_ = false;
    bool established_ = false;
    bool cancelled_ = false;
    bool failed_ = false;
};

}  // namespace vantrel::detail
