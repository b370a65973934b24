#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vantrel/Bytes.hpp"

namespace vantrel {

// Names one kind of credential in the store: the items filed under this service and account.
struct CredentialName {
    std::string service;
    std::string account;
};

// How a credential-store operation ended.
enum class CredentialStatus {
    ok,
    // The store is there but locked: it would hold the items, or take the new one, once the user
    // unlocks it. Nothing was read or changed.
    locked,
    // No store in this session, or it failed; the reason says which.
    unavailable,
};

struct CredentialRead {
    CredentialStatus status = CredentialStatus::unavailable;
    std::vector<Bytes> secrets;  // ok: the secret of every item under the name (none: no item)
    std::string reason;          // otherwise: the store's own words, for the diagnostic log
};

struct CredentialWrite {
    CredentialStatus status = CredentialStatus::unavailable;
    std::string reason;
};

// The session's store of secrets that survive a restart (the Secret Service on Linux). Secrets
// are raw bytes, stored and returned unchanged.
//
// read and replace never ask the user anything and never unlock the store on their own: a store
// that unlocks on a read would hide from the caller that it was locked, and a locked store that
// answers a read with "nothing here" must not be taken for an empty one. Only unlock asks.
//
// Used from one thread at a time (the host's key worker), except withdrawUnlock(). Calls block
// while the store answers, and unlock while the user answers.
class CredentialStore {
public:
    virtual ~CredentialStore() = default;

    // The secrets of every item filed under name, in the store's order.
    [[nodiscard]] virtual CredentialRead read(const CredentialName& name) = 0;

    // Removes every item filed under name and adds one holding secret, shown to the user as label.
    // Changes nothing when the store is locked.
    [[nodiscard]] virtual CredentialWrite replace(const CredentialName& name, const std::string& label,
                                                  const Bytes& secret) = 0;

    // Asks the user to unlock the store that holds name's items, or takes a new one, where the
    // session can show such a request; true when it is unlocked afterwards.
    [[nodiscard]] virtual bool unlock(const CredentialName& name) = 0;

    // The host is going away: an unlock request waiting for the user answers false now (its prompt
    // may stay with the user), and every later one at once, so nothing holds up the quit.
    // Callable from any thread.
    virtual void withdrawUnlock() = 0;

    // The store of this desktop session (defined by the platform library).
    [[nodiscard]] static std::unique_ptr<CredentialStore> create();
};

}  // namespace vantrel
