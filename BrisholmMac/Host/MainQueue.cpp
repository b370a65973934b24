#include "Host/MainQueue.hpp"

#include <asio/posix/stream_descriptor.hpp>
#include <system_error>

#include "vantrel/SerialQueue.hpp"

namespace vantrel {

namespace {

class AsioDescriptorWait final : public DescriptorWait {
public:
    AsioDescriptorWait(asio::posix::stream_descriptor descriptor, std::function<void()> work)
        : descriptor_(std::move(descriptor)) {
        descriptor_.async_wait(
            asio::posix::stream_descriptor::wait_read,
            [alive = std::weak_ptr<bool>(alive_), work = std::move(work)](const std::error_code& error) {
                // A wait cancelled after it completed still finds it gone.
                if (!error && alive.lock()) {
                    work();
                }
            });
    }

    ~AsioDescriptorWait() override {
        alive_.reset();
        std::error_code ignored;
        descriptor_.cancel(ignored);
        descriptor_.release();  // the descriptor is its owner's to close
    }

    AsioDescriptorWait(const AsioDescriptorWait&) = delete;
    AsioDescriptorWait& operator=(const AsioDescriptorWait&) = delete;

private:
    asio::posix::stream_descriptor descriptor_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class SerialMainQueue final : public MainQueue {
public:
    explicit SerialMainQueue(std::shared_ptr<SerialQueue> queue) : queue_(std::move(queue)) {}
    void post(std::function<void()> work) override { queue_->post(std::move(work)); }
    void postAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
        queue_->postAfter(delay, std::move(work));
    }
    [[nodiscard]] bool isCurrent() const override { return queue_->isCurrent(); }

    std::unique_ptr<DescriptorWait> whenReadable(int descriptor, std::function<void()> work) override {
        std::error_code error;
        asio::posix::stream_descriptor watched(queue_->context());
        watched.assign(descriptor, error);
        if (error) {
            return nullptr;
        }
        return std::make_unique<AsioDescriptorWait>(std::move(watched), std::move(work));
    }

private:
    std::shared_ptr<SerialQueue> queue_;
};

}  // namespace

std::shared_ptr<MainQueue> MainQueue::on(std::shared_ptr<SerialQueue> queue) {
    return std::make_shared<SerialMainQueue>(std::move(queue));
}

}  // namespace vantrel
