#pragma once

#include <sys/types.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::testing {

// An Xvfb of the test's own, so a test can draw, warp the pointer and add or remove monitors
// without disturbing tests that share the session's display. While it lives, DISPLAY names it.
class PrivateXServer {
public:
    // A width x height screen, 24-bit; extraArguments go to Xvfb as they are ("-extension",
    // "MIT-SHM" turns shared memory off). Check ok() before use.
    PrivateXServer(int width, int height, std::vector<std::string> extraArguments = {});
    ~PrivateXServer();
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    [[nodiscard]] bool ok() const { return !display_.empty(); }
    [[nodiscard]] const std::string& display() const { return display_; }

    // Runs an X client command line (xrandr ...) against this display; true when it exits 0.
    bool run(const std::string& command) const;

private:
    std::FILE* pipe_ = nullptr;  // Xvfb's standard output
    pid_t pid_ = -1;
    std::string display_;
    std::optional<std::string> previousDisplay_;
};

}  // namespace vantrel::testing
