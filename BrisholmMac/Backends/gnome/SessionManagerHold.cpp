#include "Backends/gnome/SessionManagerHold.hpp"

#include <cstdint>
#include <optional>
#include <string>

#include "Backends/gnome/DBusCall.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::gnome {

namespace {

constexpr const char* sessionManagerService = "org.gnome.SessionManager";
constexpr const char* sessionManagerPath = "/org/gnome/SessionManager";

// The session manager's inhibit flags: suspending, and the session being marked idle (which
// blanks and locks the screen).
constexpr std::uint32_t inhibitSuspend = 4;
constexpr std::uint32_t inhibitIdle = 8;

class SessionManagerHold final : public KeepAwake {
public:
    ~SessionManagerHold() override { release(); }

    void hold(const std::string& reason) override {
        if (cookie_) {
            return;
        }
        if (!bus_) {
            bus_ = sessionBus();
        }
        std::string error;
        // The inhibitor also ends when our connection closes: a host that ends without releasing
        // leaves none behind.
        const auto reply =
            bus_ ? callSync(bus_.get(), sessionManagerService, sessionManagerPath, sessionManagerService, "Inhibit",
                            g_variant_new("(susu)", "brisholm", 0U, reason.c_str(), inhibitSuspend | inhibitIdle),
                            "(u)", error)
                 : nullptr;
        if (!reply) {
            if (!absenceLogged_) {
                absenceLogged_ = true;
                diagnosticLog().info("GNOME's session manager does not keep the session from going idle: {}",
                                     bus_ ? error : "no session bus");
            }
            return;
        }
        std::uint32_t cookie = 0;
        g_variant_get(reply.get(), "(u)", &cookie);
        cookie_ = cookie;
    }

    void release() override {
        if (!cookie_) {
            return;
        }
        std::string error;
        if (!callSync(bus_.get(), sessionManagerService, sessionManagerPath, sessionManagerService, "Uninhibit",
                      g_variant_new("(u)", *cookie_), nullptr, error)) {
            diagnosticLog().warn("GNOME's session manager did not take back its inhibitor: {}", error);
        }
        cookie_.reset();
    }

private:
    GDBusConnectionPtr bus_;
    std::optional<std::uint32_t> cookie_;
    bool absenceLogged_ = false;
};

}  // namespace

std::shared_ptr<KeepAwake> makeSessionManagerHold() {
    return std::make_shared<SessionManagerHold>();
}

}  // namespace vantrel::gnome
