#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "CredentialStore.hpp"

namespace vantrel {

// The session's Secret Service (gnome-keyring, KWallet, KeePassXC ...) through libsecret. Items
// carry the attributes "service" and "account" under a schema of our own that also matches items
// other tools filed under the same two attributes (secret-tool, say), so that after a replace
// exactly one item is left. New items go to the default collection (the login keyring).
//
// Quick and quiet without a session bus or secret service: every call answers unavailable at
// once. Locks are looked at before anything is read: libsecret's plain lookup would either raise
// the unlock prompt on its own or, where no prompt can be shown, answer exactly as if no item
// were stored.
//
// Lives on the key store's queue ("vantrel.keys"), but for withdrawUnlock, callable from any thread.
class SecretServiceStore final : public CredentialStore {
public:
    struct Options {
        // Whether unlock may put the service's password prompt in front of the user.
        bool promptForUnlock = true;
        // How long unlock waits for the user's answer before it goes on without the keyring. The
        // prompt stays open: taking it back would crash gnome-keyring.
        std::chrono::milliseconds unlockDeadline = std::chrono::minutes(2);
    };

    explicit SecretServiceStore(Options options);

    // Prompts only where this process runs in a desktop session (an X or Wayland display), since
    // only there is the user who started the host in front of the prompt.
    [[nodiscard]] static Options sessionOptions();

    [[nodiscard]] CredentialRead read(const CredentialName& name) override;
    [[nodiscard]] CredentialWrite replace(const CredentialName& name, const std::string& label,
                                          const Bytes& secret) override;
    [[nodiscard]] bool unlock(const CredentialName& name) override;
    void withdrawUnlock() override;

private:
    struct PendingPrompt;

    Options options_;
    std::mutex mutex_;
    bool withdrawn_ = false;            // guarded by mutex_
    PendingPrompt* pending_ = nullptr;  // guarded by mutex_; the unlock waiting for the user
};

}  // namespace vantrel
