#pragma once

#include <string>
#include <utility>
#include <vector>

#include "CredentialStore.hpp"

namespace vantrel::testing {

// A credential store in memory for tests of the code that keeps secrets: one name's items, a
// state (unlocked, locked, or unavailable) and the user's answer to an unlock request. Records
// every replace and unlock request.
class FakeCredentialStore final : public CredentialStore {
public:
    std::vector<Bytes> items;  // the secrets under the one name the tests use
    CredentialStatus state = CredentialStatus::ok;
    std::string reason = "fake store";
    bool userUnlocks = false;  // the answer to an unlock request
    int unlockRequests = 0;
    int replacements = 0;
    bool failWrites = false;  // an unlocked store that still refuses to write

    CredentialRead read(const CredentialName& /*name*/) override {
        if (state != CredentialStatus::ok) {
            return {state, {}, reason};
        }
        return {CredentialStatus::ok, items, {}};
    }

    CredentialWrite replace(const CredentialName& /*name*/, const std::string& /*label*/,
                            const Bytes& secret) override {
        if (state != CredentialStatus::ok) {
            return {state, reason};
        }
        if (failWrites) {
            return {CredentialStatus::unavailable, "write refused"};
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
