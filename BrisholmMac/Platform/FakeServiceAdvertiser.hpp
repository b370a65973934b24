#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ServiceAdvertiser.hpp"

namespace vantrel::testing {

// Records what would be announced, for tests of the code that drives an advertiser. Callable from
// any thread, like the real one.
class FakeServiceAdvertiser final : public ServiceAdvertiser {
public:
    struct Announcement {
        std::string type;
        std::uint16_t port = 0;

        bool operator==(const Announcement&) const = default;
    };

    void advertise(const std::string& type, std::uint16_t port) override {
        std::lock_guard lock(mutex_);
        current_ = Announcement{type, port};
        history_.emplace_back(current_);
    }

    void withdraw() override {
        std::lock_guard lock(mutex_);
        if (current_) {
            current_.reset();
            history_.emplace_back(std::nullopt);
        }
    }

    // What is announced now.
    [[nodiscard]] std::optional<Announcement> current() const {
        std::lock_guard lock(mutex_);
        return current_;
    }

    // Every announcement and every withdrawal (no value) in order.
    [[nodiscard]] std::vector<std::optional<Announcement>> history() const {
        std::lock_guard lock(mutex_);
        return history_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<Announcement> current_;
    std::vector<std::optional<Announcement>> history_;
};

}  // namespace vantrel::testing
