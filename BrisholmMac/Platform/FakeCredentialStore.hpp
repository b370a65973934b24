#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CredentialStore.hpp"

namespace vantrel::testing {

// A credential store in memory for tests of the code that keeps secrets: the items of the one
// name the tests use, the store's state, and the user's answer to an unlock request. Set up before
// use; the fields are then the store's, until the calls are over.
//
// With promptWaits, an unlock request waits, as the keyring's prompt does, until the test answers
// it (answerPrompt) or it is withdrawn; the other members are for the test's thread.
class FakeCredentialStore final : public CredentialStore {
public:
    std::vector<Bytes> items;
    CredentialStatus state = CredentialStatus::ok;
    bool failWrites = false;   // unlocked, yet refusing to write
    bool userUnlocks = false;  // the answer to an unlock request
    int unlockRequests = 0;
    int replacements = 0;
    bool promptWaits = false;

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
        bool unlocks = userUnlocks;
        {
            std::unique_lock lock(mutex_);
            ++prompts_;
            changed_.notify_all();
            if (withdrawn_) {
                return false;
            }
            if (promptWaits) {
                // Bounded only so that a host that waits for the prompt fails its test instead of
                // hanging it.
                gaveUp_ = !changed_.wait_for(lock, std::chrono::seconds(20), [this] { return answer_ || withdrawn_; });
                unlocks = answer_.value_or(false) && !withdrawn_;
                answer_.reset();
            }
        }
        ++unlockRequests;
        if (state == CredentialStatus::locked && unlocks) {
            state = CredentialStatus::ok;
        }
        return state == CredentialStatus::ok;
    }

    void withdrawUnlock() override {
        const std::lock_guard lock(mutex_);
        withdrawn_ = true;
        changed_.notify_all();
    }

    // Test side of a waiting prompt: whether one was raised (waiting up to timeout for it), the
    // user's answer, and whether the host withdrew its requests.
    bool promptRaised(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return prompts_ > 0; });
    }
    void answerPrompt(bool unlocks) {
        const std::lock_guard lock(mutex_);
        answer_ = unlocks;
        changed_.notify_all();
    }
    bool withdrawn() {
        const std::lock_guard lock(mutex_);
        return withdrawn_;
    }
    // Whether a prompt went unanswered until the fake stopped waiting.
    bool gaveUp() {
        const std::lock_guard lock(mutex_);
        return gaveUp_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int prompts_ = 0;
    std::optional<bool> answer_;
    bool withdrawn_ = false;
    bool gaveUp_ = false;
};

}  // namespace vantrel::testing
