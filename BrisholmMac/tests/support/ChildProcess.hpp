#pragma once

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::testing {

// A program the end-to-end tests start: its standard output is read line by line on a thread of
// its own, standard input is a pipe the test writes to, standard error goes to a file. The
// destructor ends the process (SIGKILL, by its pid) if it is still running, and reaps it.
class ChildProcess {
public:
    // environment: variables to set (a value) or remove (no value) for the child.
    // closeOutputAfterLines: when non-zero, the test stops reading standard output and closes
    // it after that many lines, as `| head -n N` does.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::optional<std::string>>& environment = {},
                 std::size_t closeOutputAfterLines = 0);
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    [[nodiscard]] bool started() const { return pid_ > 0; }
    [[nodiscard]] pid_t pid() const { return pid_; }

    // The first line of standard output that starts with prefix, waiting for it up to timeout.
    std::optional<std::string> waitForLine(const std::string& prefix,
                                           std::chrono::milliseconds timeout = std::chrono::seconds(20));
    [[nodiscard]] std::vector<std::string> lines();
    // The raw bytes of standard output so far (for binary peers).
    [[nodiscard]] std::string output();
    bool waitForOutput(std::size_t bytes, std::chrono::milliseconds timeout);

    // To standard input; stops quietly where the child no longer reads it (it may have left).
    void write(const std::string& bytes);
    void closeInput();
    void signal(int number);

    // The exit status (or 128 + signal), waiting up to timeout; no value when it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    [[nodiscard]] std::string errorOutput() const;

private:
    void readOutput();

    std::size_t closeOutputAfterLines_ = 0;
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string errorPath_;
    std::optional<int> status_;
    std::thread reader_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::string bytes_;
};

}  // namespace vantrel::testing
