#include "App/KeyStoreWorker.hpp"

#include <utility>

#include "Host/MainQueue.hpp"
#include "vantrel/SerialQueue.hpp"

namespace vantrel {

std::shared_ptr<KeyStoreWorker> KeyStoreWorker::create(std::shared_ptr<KeyStore> keys,
                                                       std::shared_ptr<MainQueue> main) {
    return std::shared_ptr<KeyStoreWorker>(new KeyStoreWorker(std::move(keys), std::move(main)));
}

KeyStoreWorker::KeyStoreWorker(std::shared_ptr<KeyStore> keys, std::shared_ptr<MainQueue> main)
    : keys_(std::move(keys)), main_(std::move(main)), queue_(std::make_unique<SerialQueue>("vantrel.keys")) {}

KeyStoreWorker::~KeyStoreWorker() {
    stop();
}

void KeyStoreWorker::load(Done done) {
    run(&KeyStore::load, std::move(done));
}

void KeyStoreWorker::rotate(Done done) {
    run(&KeyStore::rotate, std::move(done));
}

void KeyStoreWorker::run(PairingKey (KeyStore::*request)(), Done done) {
    if (stopped_) {
        return;
    }
    // The worker's closure holds the key store, never the worker: the worker (and its queue) may
    // only be destroyed on the main thread.
    queue_->post([keys = keys_, main = main_, request, weak = weak_from_this(), done = std::move(done)]() mutable {
        PairingKey key = ((*keys).*request)();
        main->post([weak = std::move(weak), done = std::move(done), key = std::move(key)]() mutable {
            const auto self = weak.lock();
            if (self && !self->stopped_) {
                done(std::move(key));
            }
        });
    });
}

void KeyStoreWorker::stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    keys_->withdrawUnlock();
    queue_.reset();  // joins the worker once its current call has returned
}

}  // namespace vantrel
