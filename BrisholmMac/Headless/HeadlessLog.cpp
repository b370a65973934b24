#include "Headless/HeadlessLog.hpp"

#include <unistd.h>
#include <cerrno>
#include <string>

namespace vantrel {

void writeLine(int fd, std::string_view line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line);
    text.push_back('\n');

    const char* next = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
}

LogSink standardOutputLog() {
    return [](std::string_view line) { writeLine(STDOUT_FILENO, line); };
}

}  // namespace vantrel
