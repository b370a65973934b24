// The keep-awake hold of a Linux desktop: the session's screen saver inhibited over D-Bus, the
// backend's own hold, and logind's idle inhibitor held, so that neither the screen nor the machine
// goes to sleep while a phone watches.
#include "Platform/desktop/SessionKeepAwake.hpp"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "Log/DiagnosticLog.hpp"
#include "Platform/desktop/GioHandles.hpp"

namespace vantrel::desktop {

namespace {

using GErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

constexpr const char* screenSaverService = "org.freedesktop.ScreenSaver";
constexpr const char* screenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* loginService = "org.freedesktop.login1";
constexpr const char* loginPath = "/org/freedesktop/login1";
constexpr const char* loginManager = "org.freedesktop.login1.Manager";
constexpr int callTimeoutMillis = 2000;

using GUnixFDListPtr = GObjectPtr<GUnixFDList>;

// A descriptor logind hands out: the inhibition lasts until it is closed.
class InhibitorFd {
public:
    InhibitorFd() = default;
    explicit InhibitorFd(int fd) : fd_(fd) {}
    InhibitorFd(InhibitorFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    InhibitorFd& operator=(InhibitorFd&& other) noexcept {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        return *this;
    }
    InhibitorFd(const InhibitorFd&) = delete;
    InhibitorFd& operator=(const InhibitorFd&) = delete;
    ~InhibitorFd() { reset(); }

    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

class SessionKeepAwake final : public KeepAwake {
public:
    explicit SessionKeepAwake(std::shared_ptr<KeepAwake> backendHold) : backendHold_(std::move(backendHold)) {}
    ~SessionKeepAwake() override { release(); }

    void hold(const std::string& reason) override {
        if (held_) {
            return;
        }
        held_ = true;
        inhibitScreenSaver(reason);
        if (backendHold_) {
            backendHold_->hold(reason);
        }
        inhibitIdleSleep(reason);
    }

    void release() override {
        if (!held_) {
            return;
        }
        held_ = false;
        if (cookie_ && bus_) {
            GError* rawError = nullptr;
            GVariantPtr reply(
                g_dbus_connection_call_sync(bus_.get(), screenSaverService, screenSaverPath, screenSaverService,
                                            "UnInhibit", g_variant_new("(u)", *cookie_), nullptr,
                                            G_DBUS_CALL_FLAGS_NONE, callTimeoutMillis, nullptr, &rawError));
            GErrorPtr error(rawError);
            if (error) {
                diagnosticLog().warn("the screen saver did not take back its inhibition: {}", error->message);
            }
            cookie_.reset();
        }
        if (backendHold_) {
            backendHold_->release();
        }
        idleInhibitor_.reset();
    }

private:
    // logind's "idle" inhibitor: a laptop that would suspend after some idle minutes stays up
    // while the phone watches (the screen saver inhibition alone does not stop that).
    void inhibitIdleSleep(const std::string& reason) {
        if (!connect(systemBus_, G_BUS_TYPE_SYSTEM, "no system bus, so no idle-sleep inhibitor")) {
            return;
        }
        GError* rawError = nullptr;
        GUnixFDList* rawFds = nullptr;
        GVariantPtr reply(g_dbus_connection_call_with_unix_fd_list_sync(
            systemBus_.get(), loginService, loginPath, loginManager, "Inhibit",
            g_variant_new("(ssss)", "idle", "Vantrel", reason.c_str(), "block"), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, callTimeoutMillis, nullptr, &rawFds, nullptr, &rawError));
        GErrorPtr error(rawError);
        GUnixFDListPtr fds(rawFds);
        if (!reply || !fds) {
            diagnosticLog().info("logind does not keep the machine from idle sleep: {}",
                                 error ? error->message : "no descriptor in its answer");
            return;
        }
        gint32 index = -1;
        g_variant_get(reply.get(), "(h)", &index);
        rawError = nullptr;
        const int fd = g_unix_fd_list_get(fds.get(), index, &rawError);
        GErrorPtr fdError(rawError);
        if (fd < 0) {
            diagnosticLog().info("logind's idle inhibitor cannot be held: {}",
                                 fdError ? fdError->message : "unknown reason");
            return;
        }
        idleInhibitor_ = InhibitorFd(fd);
    }

    // Connects bus once; without one, says so (once: a phone may come many times) and returns false.
    bool connect(GObjectPtr<GDBusConnection>& bus, GBusType type, const char* without) {
        if (bus) {
            return true;
        }
        GError* rawError = nullptr;
        bus.reset(g_bus_get_sync(type, nullptr, &rawError));
        GErrorPtr error(rawError);
        if (!bus && missingBusesLogged_.insert(type).second) {
            diagnosticLog().info("{}: {}", without, error ? error->message : "unknown reason");
        }
        return bus != nullptr;
    }

    void inhibitScreenSaver(const std::string& reason) {
        if (!connect(bus_, G_BUS_TYPE_SESSION, "no session bus, so no screen saver to inhibit")) {
            return;
        }
        GError* rawError = nullptr;
        GVariantPtr reply(
            g_dbus_connection_call_sync(bus_.get(), screenSaverService, screenSaverPath, screenSaverService, "Inhibit",
                                        g_variant_new("(ss)", "brisholm", reason.c_str()), G_VARIANT_TYPE("(u)"),
                                        G_DBUS_CALL_FLAGS_NONE, callTimeoutMillis, nullptr, &rawError));
        GErrorPtr error(rawError);
        if (!reply) {
            diagnosticLog().info("the session's screen saver cannot be inhibited: {}",
                                 error ? error->message : "unknown reason");
            return;
        }
        guint32 cookie = 0;
        g_variant_get(reply.get(), "(u)", &cookie);
        cookie_ = cookie;
    }

    std::shared_ptr<KeepAwake> backendHold_;
    bool held_ = false;
    GObjectPtr<GDBusConnection> bus_;
    GObjectPtr<GDBusConnection> systemBus_;
    std::set<GBusType> missingBusesLogged_;
    InhibitorFd idleInhibitor_;
    std::optional<guint32> cookie_;
};

}  // namespace

std::shared_ptr<KeepAwake> makeSessionKeepAwake(std::shared_ptr<KeepAwake> backendHold) {
    return std::make_shared<SessionKeepAwake>(std::move(backendHold));
}

}  // namespace vantrel::desktop
