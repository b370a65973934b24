#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "Platform/CredentialStore.hpp"
#include "vantrel/Bytes.hpp"

namespace vantrel {

// The pairing key the host runs with, and where it came from, so the menu can tell the user.
struct PairingKey {
    enum class Origin {
        stored,       // read from the credential store: phones paired before still connect
        created,      // made now and stored: phones paired before must pair again
        sessionOnly,  // made now and kept in memory only: it ends with this run of the host
    };

    Bytes key;  // PairingInfo::keyLength bytes
    Origin origin = Origin::sessionOnly;
    // sessionOnly: locked (the user did not unlock the keyring) or unavailable (no secret service,
    // or it failed); ok otherwise.
    CredentialStatus store = CredentialStatus::ok;
    std::string reason;  // sessionOnly: the store's own words, for the diagnostic log
};

// Keeps the host's pairing key across restarts as one credential item (service "Vantrel",
// account "pairing-key") whose secret is the raw 32-byte key, and replaces it on request.
//
// Always hands out a key, but replaces a stored one only when the store was read and holds no
// usable key, or when the user asks for a new one. A locked or missing store is never taken for
// an empty one: replacing the key then would lock out every paired phone for nothing. Instead
// the user is asked to unlock the keyring (where the session can show the prompt) and, failing
// that, the host runs with a key for this session only and leaves the stored one alone.
//
// Used from one thread at a time: the host's key worker (KeyStoreWorker), since calls block while
// the store answers (milliseconds) and while the user answers an unlock prompt (minutes).
class KeyStore {
public:
    static constexpr std::string_view service = "Vantrel";
    static constexpr std::string_view account = "pairing-key";
    static constexpr std::string_view label = "Vantrel pairing key";

    explicit KeyStore(std::shared_ptr<CredentialStore> store);

    // The key to run with at start-up: the stored one; else, when none is stored or the stored one
    // is of the wrong length, a fresh one stored in its place; else one for this session only.
    [[nodiscard]] PairingKey load();

    // A fresh key, stored in place of the old one (which locks out every phone paired with it);
    // for this session only when it cannot be stored.
    [[nodiscard]] PairingKey rotate();

    // The host is going away: a call waiting for the user to answer an unlock prompt returns now,
    // and load() and rotate() ask nobody from now on. Callable from any thread.
    void withdrawUnlock();

private:
    [[nodiscard]] PairingKey keep(Bytes key);
    [[nodiscard]] CredentialName name() const;

    std::shared_ptr<CredentialStore> store_;
};

}  // namespace vantrel
