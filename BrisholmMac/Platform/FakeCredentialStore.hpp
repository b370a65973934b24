#pragma once

#include <string>
#include <vector>

#include "CredentialStore.hpp"

namespace vantrel::testing {

// A credential store in memory for tests of the code that keeps secrets: the items of the one
// name the tests use, the store's state, and the user's answer to an unlock request.
class FakeCredentialStore final : public CredentialStore {
public:
    std::vector<Bytes> items;
    CredentialStatus state = CredentialStatus::ok;
    bool failWrites = false;   // unlocked, yet refusing to write
    bool userUnlocks = false;  // the answer to an unlock request
    int unlockRequests = 0;
    int replacements = 0;

    CredentialRead read(const CredentialName& /*name*/) override {
        return {state, state == CredentialStatus::ok ? items : std::vector<Bytes>{}, "fake store"};
    }

    CredentialWrite replace(const CredentialName& /*name*/, const std::string& /*label*/,
                            const Bytes& secret) override {
        if (state != CredentialStatus::ok || failWrites) {
            return {failWrites ? CredentialStatus::unavailable : state, "fake store"};
        }
        ++replacements;
        items = {secret};
        return {CredentialStatus::ok, {}};
    }

    bool unlock(const CredentialName& /*name*/) override {
        ++unlockRequests;
        if (state == CredentialStatus::locked && userUnlocks) {
            state = CredentialStatus::ok;
        }
        return state == CredentialStatus::ok;
    }
};

}  // namespace vantrel::testing
