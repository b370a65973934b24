#include "TypingWindow.hpp"

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "vantrel/testing/Waiting.hpp"

namespace vantrel::testing {

TypingWindow::TypingWindow(const PrivateSway& sway, std::string appId)
    : sway_(sway), appId_(std::move(appId)), path_(sway.directory() + "/" + appId_ + ".txt") {
    if (!sway.launch("foot --app-id=" + appId_ + " sh -c 'cat > " + path_ + "'")) {
        return;
    }
    // Focused means mapped and ready for keys; the file means cat runs.
    ok_ = waitUntil([&] { return sway.focusedName() == appId_ && std::filesystem::exists(path_); },
                    std::chrono::seconds(10));
}

TypingWindow::~TypingWindow() {
    const std::string criteria = "'[app_id=\"" + appId_ + "\"]'";
    if (ok_ && !sway_.message(criteria + " kill").empty()) {
        waitUntil([&] { return sway_.message("-t get_tree").find("\"" + appId_ + "\"") == std::string::npos; });
    }
}

bool TypingWindow::pause() const {
    const auto pid = sway_.pidOf(appId_);
    return pid && ::kill(*pid, SIGSTOP) == 0;
}

void TypingWindow::resume() const {
    if (const auto pid = sway_.pidOf(appId_)) {
        ::kill(*pid, SIGCONT);
    }
}

std::string TypingWindow::received() const {
    std::ifstream file(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string TypingWindow::waitFor(const std::string& expected, std::chrono::milliseconds timeout) const {
    if (!waitUntil([&] { return received().size() >= expected.size(); }, timeout)) {
        const bool open = sway_.message("-t get_tree").find("\"" + appId_ + "\"") != std::string::npos;
        std::cerr << "typing window " << appId_ << (open ? " is still open" : " has gone")
                  << "; the compositor's log ends:\n"
                  << sway_.logTail() << "\n";
    }
    return received();
}

}  // namespace vantrel::testing
