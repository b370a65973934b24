#include "App/QtMainQueue.hpp"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

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
};

}  // namespace

std::shared_ptr<MainQueue> qtMainQueue() {
    return std::make_shared<QtMainQueue>();
}

}  // namespace vantrel
