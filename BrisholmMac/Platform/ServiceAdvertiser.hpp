#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vantrel {

// Announces the host's one service on the local network by DNS-SD, so a paired phone finds the
// listener without typing an address. The instance name is the computer's name as the
// system's DNS-SD service reports it; no TXT record is published.
//
// Advertising is best effort and never reports an error: without a DNS-SD service on the machine
// nothing is announced, and an implementation announces as soon as the service appears later.
// Every operation may be called from any thread and returns at once; the implementation does its
// work on a thread of its own. Destroying the advertiser withdraws the service.
class ServiceAdvertiser {
public:
    virtual ~ServiceAdvertiser() = default;

    // Announces `type` (such as "_vantrel._tcp") on `port`, replacing what was announced before.
    virtual void advertise(const std::string& type, std::uint16_t port) = 0;

    // Takes the announcement back; nothing happens when none is up.
    virtual void withdraw() = 0;

    // The implementation for this machine (Avahi).
    [[nodiscard]] static std::unique_ptr<ServiceAdvertiser> create();
};

}  // namespace vantrel
