#include "App/QtMainQueue.hpp"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

namespace vantrel {

namespace {

class QtDescriptorWait final : public DescriptorWait {
public:
    QtDescriptorWait(int descriptor, std::function<void()> work)
        : notifier_(new QSocketNotifier(descriptor, QSocketNotifier::Read)) {
        QObject::connect(notifier_, &QSocketNotifier::activated, notifier_,
                         [notifier = notifier_, alive = std::weak_ptr<bool>(alive_), work = std::move(work)] {
                             // Once: a descriptor stays readable until its owner reads it. The work
                             // runs from the event queue, outside the notifier's own signal, so it
                             // may drop this wait.
                             notifier->setEnabled(false);
                             QMetaObject::invokeMethod(
                                 QCoreApplication::instance(),
                                 [alive, work] {
                                     if (alive.lock()) {
                                         work();
                                     }
                                 },
                                 Qt::QueuedConnection);
                         });
    }

    ~QtDescriptorWait() override {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
    }

    QtDescriptorWait(const QtDescriptorWait&) = delete;
    QtDescriptorWait& operator=(const QtDescriptorWait&) = delete;

private:
    QSocketNotifier* notifier_;  // deleted by the event loop: the wait may end inside its signal
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

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

    std::unique_ptr<DescriptorWait> whenReadable(int descriptor, std::function<void()> work) override {
        if (descriptor < 0 || QCoreApplication::instance() == nullptr) {
            return nullptr;
        }
        return std::make_unique<QtDescriptorWait>(descriptor, std::move(work));
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
