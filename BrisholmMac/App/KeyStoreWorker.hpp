#pragma once

#include <functional>
#include <memory>

#include "App/KeyStore.hpp"

namespace vantrel {

class MainQueue;
class SerialQueue;

// The key store away from the main thread: a call may wait minutes for the user to answer the
// keyring's unlock prompt, and the tray and the event loop must go on meanwhile. Requests run one
// at a time, in order, on the "vantrel.keys" queue; each answer comes back on the main queue, in
// the same order.
//
// Made, used and stopped on the main thread. stop() stops waiting for a prompt's answer, waits
// only for the store call in progress (which then ends at once), and drops every answer not yet
// delivered, so nothing runs on behalf of an owner that has gone.
class KeyStoreWorker : public std::enable_shared_from_this<KeyStoreWorker> {
public:
    using Done = std::function<void(PairingKey)>;

    [[nodiscard]] static std::shared_ptr<KeyStoreWorker> create(std::shared_ptr<KeyStore> keys,
                                                                std::shared_ptr<MainQueue> main);
    ~KeyStoreWorker();

    KeyStoreWorker(const KeyStoreWorker&) = delete;
    KeyStoreWorker& operator=(const KeyStoreWorker&) = delete;

    // KeyStore::load() and KeyStore::rotate(); done runs on the main thread unless stopped first.
    void load(Done done);
    void rotate(Done done);

    // Idempotent; after it, requests are ignored.
    void stop();

private:
    KeyStoreWorker(std::shared_ptr<KeyStore> keys, std::shared_ptr<MainQueue> main);
    void run(PairingKey (KeyStore::*request)(), Done done);

    std::shared_ptr<KeyStore> keys_;
    std::shared_ptr<MainQueue> main_;
    std::unique_ptr<SerialQueue> queue_;
    bool stopped_ = false;  // main thread only
};

}  // namespace vantrel
