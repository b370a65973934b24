#include "AvahiAdvertiser.hpp"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

namespace vantrel {

std::unique_ptr<ServiceAdvertiser> ServiceAdvertiser::create() {
    return std::make_unique<AvahiAdvertiser>();
}

namespace {

// Holds the threaded poll's lock for a scope. Callers are never on the poll thread: Avahi's
// callbacks already run with the lock held.
class PollLock {
public:
    explicit PollLock(AvahiThreadedPoll* poll) : poll_(poll) {
        if (poll_) {
            avahi_threaded_poll_lock(poll_);
        }
    }
    ~PollLock() {
        if (poll_) {
            avahi_threaded_poll_unlock(poll_);
        }
    }
    PollLock(const PollLock&) = delete;
    PollLock& operator=(const PollLock&) = delete;

private:
    AvahiThreadedPoll* poll_;
};

struct AvahiStringDeleter {
    void operator()(char* text) const { avahi_free(text); }
};

}  // namespace

void AvahiAdvertiser::PollDeleter::operator()(AvahiThreadedPoll* poll) const {
    avahi_threaded_poll_free(poll);
}

AvahiAdvertiser::AvahiAdvertiser(std::chrono::milliseconds retryInterval)
    : retryInterval_(retryInterval), poll_(avahi_threaded_poll_new()) {
    if (!poll_) {
        return;  // no advertising at all, silently
    }
    // The poll thread is not running yet, so no lock is needed for the first attempt.
    connect();
    if (avahi_threaded_poll_start(poll_.get()) < 0) {
        disconnect();
        poll_.reset();
    }
}

AvahiAdvertiser::~AvahiAdvertiser() {
    if (!poll_) {
        return;
    }
    // Stops and joins the poll thread; afterwards nothing runs concurrently with us.
    avahi_threaded_poll_stop(poll_.get());
    disconnect();
    if (reconnect_) {
        avahi_threaded_poll_get(poll_.get())->timeout_free(reconnect_);
        reconnect_ = nullptr;
    }
}

void AvahiAdvertiser::advertise(const std::string& type, std::uint16_t port) {
    PollLock lock(poll_.get());
    wanted_ = Wanted{type, port};
    if (group_) {
        avahi_entry_group_reset(group_);
    }
    if (client_ && clientRunning_) {
        publish(client_);
    }
}

void AvahiAdvertiser::withdraw() {
    PollLock lock(poll_.get());
    wanted_.reset();
    if (group_) {
        avahi_entry_group_reset(group_);
    }
}

void AvahiAdvertiser::connect() {
    int error = 0;
    // NO_FAIL: with a system bus but no daemon, the client waits for the daemon to appear.
    // The callback runs inside avahi_client_new already, before client_ is set: it works on the
    // client it is given.
    client_ = avahi_client_new(
        avahi_threaded_poll_get(poll_.get()), AVAHI_CLIENT_NO_FAIL,
        [](AvahiClient* client, AvahiClientState state, void* self) {
            static_cast<AvahiAdvertiser*>(self)->handleClientState(client, state);
        },
        this, &error);
    if (!client_) {
        // No system bus at all: nothing waits for us, so ask again later.
        scheduleReconnect(retryInterval_);
    }
}

void AvahiAdvertiser::scheduleReconnect(std::chrono::milliseconds delay) {
    const AvahiPoll* api = avahi_threaded_poll_get(poll_.get());
    timeval when{};
    avahi_elapse_time(&when, static_cast<unsigned>(delay.count()), 0);
    if (reconnect_) {
        api->timeout_update(reconnect_, &when);
    } else {
        reconnect_ = api->timeout_new(
            api, &when,
            [](AvahiTimeout* timeout, void* self) { static_cast<AvahiAdvertiser*>(self)->reconnectNow(timeout); },
            this);
    }
}

void AvahiAdvertiser::disconnect() {
    if (client_) {
        avahi_client_free(client_);  // also frees the entry group, withdrawing the service
    }
    client_ = nullptr;
    group_ = nullptr;
    clientRunning_ = false;
    name_.clear();
}

void AvahiAdvertiser::publish(AvahiClient* client) {
    if (!wanted_) {
        return;
    }
    if (name_.empty()) {
        const char* hostName = avahi_client_get_host_name(client);
        if (!hostName) {
            return;
        }
        name_ = hostName;
    }
    if (!group_) {
        group_ = avahi_entry_group_new(
            client,
            [](AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
                static_cast<AvahiAdvertiser*>(self)->handleGroupState(group, state);
            },
            this);
        if (!group_) {
            return;
        }
    }
    if (!avahi_entry_group_is_empty(group_)) {
        return;  // already published, or being published
    }
    // A trailing null and no TXT strings: Avahi publishes only the empty record it must.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int result = avahi_entry_group_add_service(group_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                         AvahiPublishFlags(0), name_.c_str(), wanted_->type.c_str(),
                                                         nullptr, nullptr, wanted_->port, nullptr);
        if (result == AVAHI_ERR_COLLISION) {
            std::unique_ptr<char, AvahiStringDeleter> alternative(avahi_alternative_service_name(name_.c_str()));
            name_ = alternative.get();
            continue;
        }
        if (result == AVAHI_OK) {
            avahi_entry_group_commit(group_);
        }
        return;
    }
}

void AvahiAdvertiser::handleClientState(AvahiClient* client, int state) {
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            clientRunning_ = true;
            publish(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The daemon is renaming the host: take the service down until it runs again.
            clientRunning_ = false;
            if (group_) {
                avahi_entry_group_reset(group_);
            }
            break;
        case AVAHI_CLIENT_FAILURE:
            clientRunning_ = false;
            // The client is finished. It cannot be freed inside its own callback, so a fresh one
            // is made from a timer on this thread: at once when the daemon went away (the new
            // one waits for it to come back), after the retry interval for anything else.
            scheduleReconnect(avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED ? std::chrono::milliseconds(0)
                                                                                   : retryInterval_);
            break;
        case AVAHI_CLIENT_CONNECTING:
        default: break;
    }
}

void AvahiAdvertiser::handleGroupState(AvahiEntryGroup* group, int state) {
    if (state != AVAHI_ENTRY_GROUP_COLLISION) {
        return;
    }
    // Another host publishes the same instance name: take Avahi's alternative and publish again.
    std::unique_ptr<char, AvahiStringDeleter> alternative(avahi_alternative_service_name(name_.c_str()));
    name_ = alternative.get();
    avahi_entry_group_reset(group);
    if (client_) {
        publish(client_);
    }
}

void AvahiAdvertiser::reconnectNow(AvahiTimeout* timeout) {
    // Disarm rather than free: scheduleReconnect re-arms the same timeout.
    avahi_threaded_poll_get(poll_.get())->timeout_update(timeout, nullptr);
    disconnect();
    connect();
}

}  // namespace vantrel
