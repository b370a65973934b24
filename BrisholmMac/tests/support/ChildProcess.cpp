#include "ChildProcess.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace vantrel::testing {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::optional<std::string>>& environment,
                           std::size_t closeOutputAfterLines)
    : closeOutputAfterLines_(closeOutputAfterLines) {
    int inputPipe[2];
    int outputPipe[2];
    if (::pipe2(inputPipe, O_CLOEXEC) != 0 || ::pipe2(outputPipe, O_CLOEXEC) != 0) {
        return;
    }
    char errorTemplate[] = "/tmp/vantrel-child-stderr.XXXXXX";
    const int errorFd = ::mkstemp(errorTemplate);
    errorPath_ = errorTemplate;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputPipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorFd, STDERR_FILENO);

    // The child starts with default signal handling and no blocked signals, whatever the test
    // runner has set up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : environment) {
        if (value) {
            variables[name] = *value;
        } else {
            variables.erase(name);
        }
    }
    std::vector<std::string> environmentText;
    for (const auto& [name, value] : variables) {
        environmentText.push_back(name + "=" + value);
    }
    std::vector<char*> environmentPointers;
    for (auto& entry : environmentText) {
        environmentPointers.push_back(entry.data());
    }
    environmentPointers.push_back(nullptr);

    std::vector<std::string> argumentText{program};
    argumentText.insert(argumentText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argumentPointers;
    for (auto& argument : argumentText) {
        argumentPointers.push_back(argument.data());
    }
    argumentPointers.push_back(nullptr);

    pid_t pid = -1;
    const int result =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argumentPointers.data(), environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(inputPipe[0]);
    ::close(outputPipe[1]);
    ::close(errorFd);
    if (result != 0) {
        ::close(inputPipe[1]);
        ::close(outputPipe[0]);
        return;
    }
    pid_ = pid;
    input_ = inputPipe[1];
    output_ = outputPipe[0];
    reader_ = std::thread([this] { readOutput(); });
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !waitForExit(std::chrono::milliseconds(0))) {
        ::kill(pid_, SIGKILL);
        waitForExit(std::chrono::seconds(20));
    }
    closeInput();
    if (reader_.joinable()) {
        reader_.join();
    }
    if (output_ >= 0) {
        ::close(output_);
    }
    if (!errorPath_.empty()) {
        ::unlink(errorPath_.c_str());
    }
}

void ChildProcess::readOutput() {
    char buffer[65536];
    while (true) {
        const ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        const std::lock_guard guard(lock_);
        bytes_.append(buffer, static_cast<std::size_t>(count));
        changed_.notify_all();
        if (closeOutputAfterLines_ > 0 &&
            static_cast<std::size_t>(std::count(bytes_.begin(), bytes_.end(), '\n')) >= closeOutputAfterLines_) {
            ::close(output_);
            output_ = -1;
            break;
        }
    }
}

std::vector<std::string> ChildProcess::lines() {
    const std::lock_guard guard(lock_);
    std::vector<std::string> result;
    std::size_t start = 0;
    std::size_t end = 0;
    while ((end = bytes_.find('\n', start)) != std::string::npos) {
        result.push_back(bytes_.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

std::string ChildProcess::output() {
    const std::lock_guard guard(lock_);
    return bytes_;
}

std::optional<std::string> ChildProcess::waitForLine(const std::string& prefix, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        for (const auto& line : lines()) {
            if (line.rfind(prefix, 0) == 0) {
                return line;
            }
        }
        std::unique_lock guard(lock_);
        if (changed_.wait_until(guard, deadline) == std::cv_status::timeout) {
            guard.unlock();
            for (const auto& line : lines()) {
                if (line.rfind(prefix, 0) == 0) {
                    return line;
                }
            }
            return std::nullopt;
        }
    }
}

bool ChildProcess::waitForOutput(std::size_t bytes, std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return bytes_.size() >= bytes; });
}

void ChildProcess::write(const std::string& bytes) {
    // A child that has left makes the write fail (EPIPE) rather than end the test: the test
    // process ignores SIGPIPE from here on. Children start with default handling all the same.
    static const bool ignoringBrokenPipes = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)ignoringBrokenPipes;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(input_, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;
        }
        written += static_cast<std::size_t>(count);
    }
}

void ChildProcess::closeInput() {
    if (input_ >= 0) {
        ::close(input_);
        input_ = -1;
    }
}

void ChildProcess::signal(int number) {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, number);
    }
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (status_ || pid_ <= 0) {
        return status_;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string ChildProcess::errorOutput() const {
    std::ifstream file(errorPath_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace vantrel::testing
