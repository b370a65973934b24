#include "Host/MainQueue.hpp"

#include "vantrel/SerialQueue.hpp"

namespace vantrel {

namespace {

class SerialMainQueue final : public MainQueue {
public:
    explicit SerialMainQueue(std::shared_ptr<SerialQueue> queue) : queue_(std::move(queue)) {}
    void post(std::function<void()> work) override { queue_->post(std::move(work)); }
    void postAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
        queue_->postAfter(delay, std::move(work));
    }
    [[nodiscard]] bool isCurrent() const override { return queue_->isCurrent(); }

private:
    std::shared_ptr<SerialQueue> queue_;
};

}  // namespace

std::shared_ptr<MainQueue> MainQueue::on(std::shared_ptr<SerialQueue> queue) {
    return std::make_shared<SerialMainQueue>(std::move(queue));
}

}  // namespace vantrel
