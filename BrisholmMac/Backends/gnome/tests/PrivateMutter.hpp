#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::testing {

// A GNOME compositor of the test's own: a private session bus and system bus, PipeWire and
// WirePlumber, and
// `mutter --headless --wayland --no-x11` with one virtual monitor per size given, all in a fresh
// XDG_RUNTIME_DIR and started with only the environment they need. While it lives, this process's
// environment names its session (XDG_SESSION_TYPE, WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS,
// DBUS_SYSTEM_BUS_ADDRESS, XDG_RUNTIME_DIR, GSETTINGS_BACKEND; DISPLAY removed), so the backend under test finds it.
// GLib keeps the first settings backend a process uses, so a test that reads GNOME's settings needs a process of its
// own (as ctest runs each test). The destructor ends only the processes it started.
class PrivateMutter {
public:
    struct Options {
        std::vector<std::string> monitors{"1280x720"};
        // The layout of GNOME's input sources (an XKB layout name); empty for none set.
        std::string inputSource;
        // The system's keyboard layout, as systemd-localed keeps it on the session's own system
        // bus (a stand-in); the compositor types with it while its shell sets no other. Empty
        // for none (the XKB defaults, us).
        std::string systemLayout;
        // The desktop portal on the session bus as a GNOME session has it (its permission store,
        // GNOME's portal backend that draws the dialogs, and the portal itself), started by the
        // fixture, not by the bus, since the dialogs need the session's display.
        bool portal = false;
    };

    explicit PrivateMutter(const Options& options);
    PrivateMutter() : PrivateMutter(Options{}) {}
    ~PrivateMutter();
    PrivateMutter(const PrivateMutter&) = delete;
    PrivateMutter& operator=(const PrivateMutter&) = delete;

    // Why the compositor could not be started (the test skips with it); none when it runs.
    [[nodiscard]] const std::optional<std::string>& failure() const { return failure_; }

    // The session's variables, for programs started by others (the host under test).
    [[nodiscard]] const std::map<std::string, std::string>& environment() const { return environment_; }
    [[nodiscard]] const std::string& directory() const { return directory_; }

    // Starts a client of the session (foot ...); its output goes to a log file beside the
    // compositor's. The process is ended with the compositor at the latest.
    pid_t launch(const std::vector<std::string>& arguments);
    // Ends a process launch() started.
    void end(pid_t pid);

    // Runs a command line in the session's environment; its standard output.
    [[nodiscard]] std::string run(const std::string& command) const;

private:
    bool startPortal();
    [[nodiscard]] bool owned(const std::string& name) const;
    pid_t spawn(const std::vector<std::string>& arguments, const std::string& log,
                const std::map<std::string, std::string>& extra = {});

    std::optional<std::string> failure_;
    std::string directory_;
    std::string runtime_;
    std::map<std::string, std::string> environment_;
    std::vector<pid_t> pids_;
    std::map<std::string, std::optional<std::string>> previous_;
};

}  // namespace vantrel::testing
