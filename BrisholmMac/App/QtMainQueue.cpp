#include "App/QtMainQueue.hpp"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace vantrel {

namespace {

class QtMainQueue final : public MainQueue {
public:
    void post(std::function<void()> work) override {
        // QPointer: the application may already be gone when a late server callback arrives.
        const QPointer<QCoreApplication> application = QCoreApplication::instance();
        if (application.isNull()) {
            return;
        }
        QMetaObject::invokeMethod(application.data(), std::move(work), Qt::QueuedConnection);
    }

    void postAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
        // The timer is made on the main thread, so it fires there whoever asked for it; there
        // already (a repeating task), at once, without a trip through the event queue.
        if (isCurrent()) {
            QTimer::singleShot(delay, QCoreApplication::instance(), std::move(work));
            return;
        }
        post([delay, work = std::move(work)]() mutable {
            QTimer::singleShot(delay, QCoreApplication::instance(), std::move(work));
        });
    }

    [[nodiscard]] bool isCurrent() const override {
        const auto* application = QCoreApplication::instance();
        return application != nullptr && QThread::currentThread() == application->thread();
    }
};

}  // namespace

std::shared_ptr<MainQueue> qtMainQueue() {
    return std::make_shared<QtMainQueue>();
}

}  // namespace vantrel
