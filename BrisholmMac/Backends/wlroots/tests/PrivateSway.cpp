#include "PrivateSway.hpp"

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>

#include "vantrel/testing/Waiting.hpp"

namespace vantrel::testing {

namespace {

constexpr uid_t nobody = 65534;
constexpr gid_t nogroup = 65534;

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char character : text) {
        out += character == '\'' ? std::string("'\\''") : std::string(1, character);
    }
    return out + "'";
}

std::string capture(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, read);
        }
        if (::pclose(pipe) != 0) {
            return {};
        }
    }
    return output;
}

// The focused node of sway's tree, depth first.
// The first node of sway's tree that matches, depth first.
std::optional<nlohmann::json> findNode(const nlohmann::json& node,
                                       const std::function<bool(const nlohmann::json&)>& matches) {
    if (matches(node)) {
        return node;
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        if (node.contains(children)) {
            for (const auto& child : node[children]) {
                if (auto found = findNode(child, matches)) {
                    return found;
                }
            }
        }
    }
    return std::nullopt;
}

std::optional<nlohmann::json> focusedNode(const nlohmann::json& node) {
    return findNode(node, [](const nlohmann::json& candidate) { return candidate.value("focused", false); });
}

}  // namespace

PrivateSway::PrivateSway(std::vector<Output> outputs, std::vector<std::string> configLines) {
    start(std::move(outputs), configLines);
}

PrivateSway::PrivateSway(const PrivateSway& host, int outputs) : host_(&host) {
    if (!host.ok()) {
        failure_ = "the host sway did not start: " + host.failure();
        return;
    }
    start(std::vector<Output>(static_cast<std::size_t>(std::max(outputs, 1))), {});
}

void PrivateSway::start(std::vector<Output> outputs, const std::vector<std::string>& configLines) {
    char pattern[] = "/tmp/vantrel-sway.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        failure_ = "cannot make a directory for sway";
        return;
    }
    directory_ = pattern;
    ::chmod(directory_.c_str(), 0777);
    const bool root = ::geteuid() == 0;
    const std::string run = directory_ + "/run";
    ::mkdir(run.c_str(), 0700);
    if (root && ::chown(run.c_str(), nobody, nogroup) != 0) {
        failure_ = "cannot give sway's runtime directory to nobody";
        return;
    }
    if (outputs.empty()) {
        outputs.push_back(Output{});
    }
    {
        std::ofstream config(directory_ + "/config");
        config << "xwayland disable\nfocus_follows_mouse no\n";
        if (host_ != nullptr) {
            config << "output * bg #336699 solid_color\n";
        } else {
            config << "output HEADLESS-1 resolution " << outputs[0].width << "x" << outputs[0].height
                   << " position 0,0 bg #336699 solid_color\n";
        }
        for (const auto& line : configLines) {
            config << line << "\n";
        }
    }
    ::chmod((directory_ + "/config").c_str(), 0644);

    pid_ = ::fork();
    if (pid_ == 0) {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(nobody) != 0)) {
            ::_exit(126);
        }
        const std::string logPath = directory_ + "/sway.log";
        if (std::FILE* log = std::fopen(logPath.c_str(), "w")) {
            ::dup2(::fileno(log), STDOUT_FILENO);
            ::dup2(::fileno(log), STDERR_FILENO);
        }
        const std::string home = "HOME=" + directory_;
        const std::string runtime = "XDG_RUNTIME_DIR=" + run;
        const std::string config = directory_ + "/config";
        // Inside a host sway, its outputs are windows there.
        const std::string hostDisplay = host_ != nullptr ? "WAYLAND_DISPLAY=" + host_->waylandDisplay() : "";
        const char* environment[] = {home.c_str(),
                                     "PATH=/usr/bin:/bin",
                                     runtime.c_str(),
                                     host_ != nullptr ? "WLR_BACKENDS=wayland" : "WLR_BACKENDS=headless",
                                     "WLR_LIBINPUT_NO_DEVICES=1",
                                     "WLR_RENDERER=pixman",
                                     "LANG=C.UTF-8",
                                     host_ != nullptr ? hostDisplay.c_str() : nullptr,
                                     nullptr};
        ::execle("/usr/bin/sway", "sway", "-c", config.c_str(), static_cast<char*>(nullptr), environment);
        ::_exit(127);
    }
    if (pid_ < 0) {
        failure_ = "cannot start sway";
        return;
    }
    const bool listening = waitUntil(
        [&] {
            for (const auto& entry : std::filesystem::directory_iterator(run)) {
                const auto name = entry.path().filename().string();
                if (name.rfind("sway-ipc.", 0) == 0) {
                    ipcSocket_ = entry.path();
                }
            }
            return !ipcSocket_.empty() && std::filesystem::exists(run + "/wayland-1") &&
                   !message("-t get_version").empty();
        },
        std::chrono::seconds(10));
    if (!listening) {
        std::ifstream log(directory_ + "/sway.log");
        failure_ = "sway did not start: " + std::string(std::istreambuf_iterator<char>(log), {});
        return;
    }
    outputs_ = 1;
    rightEdge_ = outputs[0].width;
    for (std::size_t index = 1; index < outputs.size(); ++index) {
        if (!addOutput(outputs[index].width, outputs[index].height)) {
            failure_ = "sway made no output " + std::to_string(index + 1);
            return;
        }
    }
    if (const char* previous = std::getenv("WAYLAND_DISPLAY")) {
        hadDisplay_ = true;
        previousDisplay_ = previous;
    }
    waylandDisplay_ = run + "/wayland-1";
    ::setenv("WAYLAND_DISPLAY", waylandDisplay_.c_str(), 1);
}

PrivateSway::~PrivateSway() {
    if (hadDisplay_) {
        ::setenv("WAYLAND_DISPLAY", previousDisplay_.c_str(), 1);
    } else if (!waylandDisplay_.empty()) {
        ::unsetenv("WAYLAND_DISPLAY");
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

std::string PrivateSway::message(const std::string& command) const {
    if (ipcSocket_.empty()) {
        return {};
    }
    return capture("swaymsg -s " + quoted(ipcSocket_) + " " + command + " 2>/dev/null");
}

bool PrivateSway::addOutput(int width, int height) {
    if (message("create_output").empty()) {
        return false;
    }
    ++outputs_;
    if (host_ != nullptr) {
        return true;  // the host sizes the window
    }
    const std::string name = "HEADLESS-" + std::to_string(outputs_);
    const bool placed = !message("output " + name + " resolution " + std::to_string(width) + "x" +
                                 std::to_string(height) + " position " + std::to_string(rightEdge_) + " 0")
                             .empty();
    rightEdge_ += width;
    return placed;
}

bool PrivateSway::unplug(const std::string& output) const {
    return host_ != nullptr && !host_->message(quoted("[title=\"wlroots - " + output + "\"] kill")).empty();
}

bool PrivateSway::launch(const std::string& commandLine) const {
    return !message("exec " + quoted(commandLine)).empty();
}

std::string PrivateSway::focusedName() const {
    const auto tree = nlohmann::json::parse(message("-t get_tree"), nullptr, false);
    if (tree.is_discarded()) {
        return {};
    }
    const auto focused = focusedNode(tree);
    if (!focused) {
        return {};
    }
    if (focused->contains("app_id") && (*focused)["app_id"].is_string()) {
        return (*focused)["app_id"];
    }
    return focused->value("name", "");
}

std::optional<pid_t> PrivateSway::pidOf(const std::string& appId) const {
    const auto tree = nlohmann::json::parse(message("-t get_tree"), nullptr, false);
    if (tree.is_discarded()) {
        return std::nullopt;
    }
    const auto window = findNode(tree, [&](const nlohmann::json& node) {
        return node.contains("app_id") && node["app_id"].is_string() && node["app_id"] == appId;
    });
    if (!window || !window->contains("pid") || !(*window)["pid"].is_number_integer()) {
        return std::nullopt;
    }
    return (*window)["pid"].get<pid_t>();
}

void PrivateSway::pause() const {
    ::kill(pid_, SIGSTOP);
}

void PrivateSway::resume() const {
    ::kill(pid_, SIGCONT);
}

std::string PrivateSway::logTail(std::size_t lines) const {
    std::ifstream log(directory_ + "/sway.log");
    std::deque<std::string> last;
    for (std::string line; std::getline(log, line);) {
        last.push_back(std::move(line));
        if (last.size() > lines) {
            last.pop_front();
        }
    }
    std::string tail;
    for (const auto& line : last) {
        tail += line + "\n";
    }
    return tail;
}

}  // namespace vantrel::testing
