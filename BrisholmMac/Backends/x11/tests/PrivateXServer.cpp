#include "PrivateXServer.hpp"

#include <signal.h>

#include <cstdlib>

namespace vantrel::testing {

PrivateXServer::PrivateXServer(int width, int height, std::vector<std::string> extraArguments) {
    // The shell prints its process id and becomes Xvfb, which prints the display number it took.
    std::string command = "echo $$; exec Xvfb -displayfd 1 -noreset -nolisten tcp -screen 0 " + std::to_string(width) +
                          "x" + std::to_string(height) + "x24";
    for (const auto& argument : extraArguments) {
        command += " " + argument;
    }
    pipe_ = popen((command + " 2>/dev/null").c_str(), "r");
    char line[32] = {};
    if (pipe_ == nullptr || std::fgets(line, sizeof line, pipe_) == nullptr) {
        return;
    }
    pid_ = std::atoi(line);
    if (std::fgets(line, sizeof line, pipe_) == nullptr) {
        return;
    }
    display_ = ":" + std::to_string(std::atoi(line));
    if (const char* previous = std::getenv("DISPLAY")) {
        previousDisplay_ = previous;
    }
    setenv("DISPLAY", display_.c_str(), 1);
}

PrivateXServer::~PrivateXServer() {
    if (previousDisplay_) {
        setenv("DISPLAY", previousDisplay_->c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
    }
    if (pipe_ != nullptr) {
        pclose(pipe_);
    }
}

bool PrivateXServer::run(const std::string& command) const {
    const std::string line = "DISPLAY=" + display_ + " " + command + " >/dev/null 2>&1";
    return std::system(line.c_str()) == 0;
}

}  // namespace vantrel::testing
