#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ServiceAdvertiser.hpp"

struct AvahiThreadedPoll;
struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiTimeout;

namespace vantrel {

// DNS-SD through the Avahi daemon, with Avahi's threaded poll: the client, its entry group and
// every Avahi callback live on the poll's own thread, and the public operations take the poll's
// lock to reach them. The instance name is the host name Avahi reports; on a name collision it
// takes Avahi's alternative name and publishes again. No TXT record.
//
// Silent by design: without a system bus or daemon nothing is published and nothing is printed.
// The client waits for the daemon (or, without a bus, tries again every few seconds) and
// publishes what was asked for once the daemon is there; when the daemon goes away it starts
// over the same way.
class AvahiAdvertiser final : public ServiceAdvertiser {
public:
    // retryInterval: how often to try again while no system bus can be reached.
    explicit AvahiAdvertiser(std::chrono::milliseconds retryInterval = std::chrono::seconds(5));
    ~AvahiAdvertiser() override;

    AvahiAdvertiser(const AvahiAdvertiser&) = delete;
    AvahiAdvertiser& operator=(const AvahiAdvertiser&) = delete;

    void advertise(const std::string& type, std::uint16_t port) override;
    void withdraw() override;

private:
    struct Wanted {
        std::string type;
        std::uint16_t port;
    };
    struct PollDeleter {
        void operator()(AvahiThreadedPoll* poll) const;
    };

    // On the poll thread, or with the poll's lock held.
    void connect();
    void scheduleReconnect(std::chrono::milliseconds delay);
    void disconnect();
    void publish(AvahiClient* client);
    void handleClientState(AvahiClient* client, int state);
    void handleGroupState(AvahiEntryGroup* group, int state);

    void reconnectNow(AvahiTimeout* timeout);

    std::chrono::milliseconds retryInterval_;
    std::unique_ptr<AvahiThreadedPoll, PollDeleter> poll_;
    AvahiClient* client_ = nullptr;     // owned; freeing it frees its entry group
    AvahiEntryGroup* group_ = nullptr;  // owned by client_
    AvahiTimeout* reconnect_ = nullptr;
    bool clientRunning_ = false;
    std::optional<Wanted> wanted_;
    std::string name_;  // empty until the daemon told us the host name
};

}  // namespace vantrel
