#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Platform/KeepAwake.hpp"
#include "Platform/Workspace.hpp"

namespace vantrel::testing {

// A desktop with no applications, for tests that do not look at the application list.
class NoApplications final : public Workspace {
public:
    std::vector<std::string> pinnedIds() override { return {}; }
    std::vector<RunningApplication> runningApplications() override { return {}; }
    std::optional<std::string> locate(const std::string&) override { return std::nullopt; }
    std::string displayName(const std::string&) override { return {}; }
    std::optional<Bytes> iconPNG(const std::string&) override { return std::nullopt; }
    void openOrActivate(const std::string&) override {}
};

// A keep-awake hold that counts what it was asked.
class CountingKeepAwake final : public KeepAwake {
public:
    void hold(const std::string& reason) override {
        ++holds;
        lastReason = reason;
    }
    void release() override { ++releases; }

    int holds = 0;
    int releases = 0;
    std::string lastReason;
};

}  // namespace vantrel::testing
