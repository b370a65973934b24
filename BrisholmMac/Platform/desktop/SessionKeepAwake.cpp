// The keep-awake hold of a Linux desktop: the session's screen saver inhibited over D-Bus, and the
// X screen saver suspended. Both are optional: a session without one still gets the other.
#include <gio/gio.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <memory>
#include <optional>

#include "Log/DiagnosticLog.hpp"
#include "Platform/KeepAwake.hpp"
#include "Platform/desktop/GioHandles.hpp"

namespace vantrel {

namespace {

using desktop::GErrorFree;
using desktop::GObjectPtr;
using desktop::GVariantUnref;
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

constexpr const char* screenSaverService = "org.freedesktop.ScreenSaver";
constexpr const char* screenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr int callTimeoutMillis = 2000;

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

class SessionKeepAwake final : public KeepAwake {
public:
    ~SessionKeepAwake() override { release(); }

    void hold(const std::string& reason) override {
        if (held_) {
            return;
        }
        held_ = true;
        inhibitScreenSaver(reason);
        suspendXScreenSaver(true);
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
        suspendXScreenSaver(false);
    }

private:
    void inhibitScreenSaver(const std::string& reason) {
        GError* rawError = nullptr;
        if (!bus_) {
            bus_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
            GErrorPtr error(rawError);
            if (!bus_) {
                diagnosticLog().info("no session bus, so no screen saver to inhibit: {}",
                                     error ? error->message : "unknown reason");
                return;
            }
        }
        rawError = nullptr;
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

    void suspendXScreenSaver(bool suspend) {
        if (!x_) {
            if (!suspend) {
                return;
            }
            x_.reset(xcb_connect(nullptr, nullptr));
            if (xcb_connection_has_error(x_.get()) != 0) {
                diagnosticLog().info("no X display, so no X screen saver to suspend");
                x_.reset();
                return;
            }
        }
        // Suspension lasts while this connection is open and not taken back.
        xcb_screensaver_suspend(x_.get(), suspend ? 1 : 0);
        xcb_flush(x_.get());
    }

    bool held_ = false;
    GObjectPtr<GDBusConnection> bus_;
    std::optional<guint32> cookie_;
    std::unique_ptr<xcb_connection_t, XcbDisconnect> x_;
};

}  // namespace

std::shared_ptr<KeepAwake> KeepAwake::create() {
    return std::make_shared<SessionKeepAwake>();
}

}  // namespace vantrel
