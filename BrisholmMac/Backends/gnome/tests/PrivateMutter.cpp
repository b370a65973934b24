#include "PrivateMutter.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "vantrel/testing/Waiting.hpp"

namespace vantrel::testing {

namespace {

using namespace std::chrono_literals;

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool onPath(const std::string& program) {
    return exists("/usr/bin/" + program) || exists("/bin/" + program);
}

// Waits for a process to end, up to timeout; true when it did.
bool reaped(pid_t pid, std::chrono::milliseconds timeout) {
    return waitUntil([pid] { return ::waitpid(pid, nullptr, WNOHANG) != 0; }, timeout);
}

}  // namespace

PrivateMutter::PrivateMutter(const Options& options) {
    for (const char* program : {"dbus-daemon", "pipewire", "wireplumber", "mutter", "gdbus"}) {
        if (!onPath(program)) {
            failure_ = std::string("needs ") + program + " (scripts/install-deps.sh)";
            return;
        }
    }
    char pattern[] = "/tmp/vantrel-mutter-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        failure_ = "cannot make a temporary directory";
        return;
    }
    directory_ = pattern;
    runtime_ = directory_ + "/run";
    std::filesystem::create_directories(runtime_);
    std::filesystem::create_directories(directory_ + "/home");
    ::chmod(runtime_.c_str(), 0700);
    const std::string bus = "unix:path=" + runtime_ + "/bus";
    environment_ = {{"HOME", directory_ + "/home"},
                    {"PATH", "/usr/bin:/bin"},
                    {"LANG", "C.UTF-8"},
                    {"XDG_RUNTIME_DIR", runtime_},
                    {"XDG_SESSION_TYPE", "wayland"},
                    {"XDG_CURRENT_DESKTOP", "GNOME"},
                    {"DBUS_SESSION_BUS_ADDRESS", bus},
                    {"WAYLAND_DISPLAY", "wayland-0"},
                    // Nothing the compositor or a client changes in its settings outlives the test.
                    {"GSETTINGS_BACKEND", "memory"}};
    environment_["XDG_CONFIG_HOME"] = directory_ + "/config";
    // No Bluetooth audio: its monitor wants logind, which a test session may hide (a private /run),
    // and WirePlumber leaves PipeWire when it cannot have it.
    std::filesystem::create_directories(directory_ + "/config/wireplumber/bluetooth.lua.d");
    std::ofstream(directory_ + "/config/wireplumber/bluetooth.lua.d/60-vantrel-tests.lua")
        << "bluez_monitor.enabled = false\n";
    if (!options.inputSource.empty()) {
        // GNOME's input sources in a settings file the compositor and the backend under test
        // both read.
        environment_["GSETTINGS_BACKEND"] = "keyfile";
        std::filesystem::create_directories(directory_ + "/config/glib-2.0/settings");
        std::ofstream(directory_ + "/config/glib-2.0/settings/keyfile")
            << "[org/gnome/desktop/input-sources]\nsources=[('xkb', '" << options.inputSource << "')]\n";
    }

    // Each piece waits for what it needs: the bus, then PipeWire's socket; WirePlumber links the
    // streams, and the compositor is ready once it owns its remote desktop service.
    // A bus that starts no service by itself: nothing of the machine's (a keyring that would ask
    // to be unlocked, a portal) joins the test's session unless the test starts it.
    const std::string busConfig = directory_ + "/session-bus.conf";
    std::ofstream(busConfig) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                "<busconfig><type>session</type><listen>"
                             << bus
                             << "</listen><auth>EXTERNAL</auth>"
                                "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    spawn({"dbus-daemon", "--config-file=" + busConfig, "--nofork", "--nopidfile"}, "session-bus");
    // A system bus of the session's own, which the machine's services (logind, localed) are not on.
    const std::string systemBus = "unix:path=" + runtime_ + "/system_bus_socket";
    environment_["DBUS_SYSTEM_BUS_ADDRESS"] = systemBus;
    const std::string systemConfig = directory_ + "/system-bus.conf";
    std::ofstream(systemConfig) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                   "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                   "<busconfig><type>system</type><listen>"
                                << systemBus
                                << "</listen><auth>EXTERNAL</auth>"
                                   "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                   "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    spawn({"dbus-daemon", "--config-file=" + systemConfig, "--nofork", "--nopidfile"}, "system-bus");
    if (!waitUntil([this] { return exists(runtime_ + "/bus") && exists(runtime_ + "/system_bus_socket"); }, 10s)) {
        failure_ = "the private buses did not start";
        return;
    }
    if (!options.systemLayout.empty()) {
        // systemd-localed's keyboard, as python3-dbusmock stands it in.
        const std::string localed = directory_ + "/localed.py";
        std::ofstream(localed) << "import dbus\nBUS_NAME = 'org.freedesktop.locale1'\n"
                                  "MAIN_OBJ = '/org/freedesktop/locale1'\nMAIN_IFACE = 'org.freedesktop.locale1'\n"
                                  "SYSTEM_BUS = True\n\ndef load(mock, parameters):\n"
                                  "    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'X11Layout': '"
                               << options.systemLayout
                               << "', 'X11Variant': '', 'X11Options': '', 'X11Model': 'pc105'}, signature='sv'))\n";
        spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", localed}, "localed");
        const auto answers = [this] {
            return run("gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                       "--method org.freedesktop.DBus.NameHasOwner org.freedesktop.locale1 2>/dev/null")
                       .find("true") != std::string::npos;
        };
        if (!waitUntil(answers, 10s)) {
            failure_ = "no stand-in for localed (python3-dbusmock); see " + directory_ + "/localed.log";
            return;
        }
    }
    spawn({"pipewire"}, "pipewire");
    if (!waitUntil([this] { return exists(runtime_ + "/pipewire-0"); }, 10s)) {
        failure_ = "PipeWire did not start";
        return;
    }
    spawn({"wireplumber"}, "wireplumber");
    std::vector<std::string> mutter{"mutter", "--headless", "--wayland", "--no-x11"};
    for (const auto& monitor : options.monitors) {
        mutter.push_back("--virtual-monitor");
        mutter.push_back(monitor);
    }
    spawn(mutter, "mutter");
    const auto owned = [this] {
        return run("gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus --method "
                   "org.freedesktop.DBus.NameHasOwner org.gnome.Mutter.RemoteDesktop 2>/dev/null")
                   .find("true") != std::string::npos;
    };
    if (!waitUntil([&] { return exists(runtime_ + "/wayland-0") && owned(); }, 20s)) {
        failure_ = "mutter did not start; see " + directory_ + "/mutter.log";
        return;
    }
    // WirePlumber has joined once PipeWire lists it as a client.
    if (!waitUntil([this] { return run("pw-cli ls Client 2>/dev/null").find("WirePlumber") != std::string::npos; },
                   10s)) {
        failure_ = "WirePlumber did not start; see " + directory_ + "/wireplumber.log";
        return;
    }
    if (options.portal && !startPortal()) {
        return;
    }
    for (const auto& [name, value] : environment_) {
        if (name == "HOME" || name == "PATH" || name == "LANG") {
            continue;
        }
        const char* before = std::getenv(name.c_str());
        previous_[name] = before != nullptr ? std::optional<std::string>(before) : std::nullopt;
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    const char* display = std::getenv("DISPLAY");
    previous_["DISPLAY"] = display != nullptr ? std::optional<std::string>(display) : std::nullopt;
    ::unsetenv("DISPLAY");
}

bool PrivateMutter::owned(const std::string& name) const {
    return run("gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus --method "
               "org.freedesktop.DBus.NameHasOwner " +
               name + " 2>/dev/null")
               .find("true") != std::string::npos;
}

bool PrivateMutter::startPortal() {
    const std::string libexec = "/usr/libexec/";
    for (const char* program : {"xdg-permission-store", "xdg-desktop-portal-gnome", "xdg-desktop-portal"}) {
        if (!exists(libexec + program)) {
            failure_ = std::string("needs ") + program + " (scripts/install-deps.sh)";
            return false;
        }
    }
    // Each waits for the one before: the portal reads which backends are there when it starts.
    spawn({libexec + "xdg-permission-store"}, "permission-store");
    if (!waitUntil([this] { return owned("org.freedesktop.impl.portal.PermissionStore"); }, 10s)) {
        failure_ = "the portal's permission store did not start; see " + directory_ + "/permission-store.log";
        return false;
    }
    spawn({libexec + "xdg-desktop-portal-gnome"}, "portal-gnome");
    if (!waitUntil([this] { return owned("org.freedesktop.impl.portal.desktop.gnome"); }, 20s)) {
        failure_ = "GNOME's portal backend did not start; see " + directory_ + "/portal-gnome.log";
        return false;
    }
    spawn({libexec + "xdg-desktop-portal"}, "portal");
    const auto answers = [this] {
        return run("gdbus call --session --dest org.freedesktop.portal.Desktop --object-path "
                   "/org/freedesktop/portal/desktop --method org.freedesktop.DBus.Properties.Get "
                   "org.freedesktop.portal.ScreenCast version 2>/dev/null")
                   .find("uint32") != std::string::npos;
    };
    if (!waitUntil(answers, 20s)) {
        failure_ = "the desktop portal did not start; see " + directory_ + "/portal.log";
        return false;
    }
    return true;
}

PrivateMutter::~PrivateMutter() {
    for (const auto& [name, value] : previous_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
    // The clients first, the bus last.
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) {
        ::kill(*pid, SIGTERM);
        if (!reaped(*pid, 5s)) {
            ::kill(*pid, SIGKILL);
            ::waitpid(*pid, nullptr, 0);
        }
    }
    if (!directory_.empty() && std::getenv("VANTREL_KEEP_MUTTER") == nullptr) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

pid_t PrivateMutter::spawn(const std::vector<std::string>& arguments, const std::string& log,
                           const std::map<std::string, std::string>& extra) {
    std::vector<std::string> variables;
    auto all = environment_;
    for (const auto& [name, value] : extra) {
        all[name] = value;
    }
    for (const auto& [name, value] : all) {
        variables.push_back(name + "=" + value);
    }
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string logPath = directory_ + "/" + log + ".log";
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (pid > 0) {
        pids_.push_back(pid);
    }
    return pid;
}

pid_t PrivateMutter::launch(const std::vector<std::string>& arguments) {
    return arguments.empty() ? -1 : spawn(arguments, std::filesystem::path(arguments.front()).filename().string());
}

void PrivateMutter::end(pid_t pid) {
    const auto found = std::find(pids_.begin(), pids_.end(), pid);
    if (found == pids_.end()) {
        return;
    }
    pids_.erase(found);
    ::kill(pid, SIGTERM);
    if (!reaped(pid, 5s)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

std::string PrivateMutter::run(const std::string& command) const {
    std::string line = "env -i";
    for (const auto& [name, value] : environment_) {
        line += " '" + name + "=" + value + "'";
    }
    line += " sh -c '" + command + "'";
    std::string output;
    if (FILE* pipe = ::popen(line.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        ::pclose(pipe);
    }
    return output;
}

}  // namespace vantrel::testing
