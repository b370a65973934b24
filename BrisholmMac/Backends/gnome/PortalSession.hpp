#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Backends/gnome/DBusCall.hpp"
#include "Backends/gnome/PortalRules.hpp"
#include "Geometry/Geometry.hpp"

namespace vantrel::gnome {

// The compositor drops the first keys of a new remote desktop session, its own or the portal's:
// a session taps this key (KEY_LEFTSHIFT) once, and real keys wait warmUpTime after it. 10 to
// 200 ms were enough in every session tried.
inline constexpr std::uint32_t shiftLeftKey = 42;
inline constexpr auto warmUpTime = std::chrono::milliseconds(150);

inline constexpr const char* portalService = "org.freedesktop.portal.Desktop";
inline constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
inline constexpr const char* portalScreenCast = "org.freedesktop.portal.ScreenCast";
inline constexpr const char* portalRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";

// One session with the desktop portal, on a D-Bus connection of its own (the portal ends the
// session when it closes), recording every monitor. Either a screen cast session, which the user
// approves once: the approval is kept as a restore token and later sessions show it and start
// with no dialog; or a remote desktop session, whose dialog the portal shows every time (its
// remote desktop interface keeps no approval before version 2), with the monitors recorded too,
// since absolute pointer motion names a stream of the session.
//
// Opening blocks while the user looks at the dialog, up to the answer timeout. Input calls are
// made from one thread at a time, each waiting for the portal's reply (it would reorder them).
class PortalSession {
public:
    enum class Kind { screenCast, remoteDesktop };

    struct Options {
        Kind kind = Kind::screenCast;
        // Where a screen cast session's approval is kept; none: ask each time.
        std::shared_ptr<RestoreTokens> tokens;
        // How long the user may take to answer the dialog.
        std::chrono::milliseconds answerTimeout = std::chrono::seconds(60);
        // Set from elsewhere to stop waiting for the user (the phone left meanwhile).
        const std::atomic<bool>* abandon = nullptr;
    };

    // A started session, or null with the reason in error (and the portal's answer in answer).
    [[nodiscard]] static std::unique_ptr<PortalSession> open(const Options& options, std::string& error,
                                                             PortalAnswer& answer);
    ~PortalSession();
    PortalSession(const PortalSession&) = delete;
    PortalSession& operator=(const PortalSession&) = delete;

    [[nodiscard]] const std::vector<PortalStream>& streams() const { return streams_; }
    [[nodiscard]] GDBusConnection* connection() const { return connection_.get(); }

    // A new descriptor of the PipeWire remote that shows this session's streams (the caller owns
    // it), or -1 with the reason in error.
    [[nodiscard]] int openPipeWireRemote(std::string& error);

    // Synthetic input of a remote desktop session. x and y are in the stream's own pixels.
    void moveOnStream(std::uint32_t node, double x, double y);
    void moveBy(double dx, double dy);
    void pressButton(std::int32_t evdevButton, bool down);
    void scrollSteps(std::uint32_t axis, std::int32_t steps);
    void pressKey(std::uint32_t evdevKey, bool down);
    void flush();

private:
    PortalSession(GDBusConnectionPtr connection, Options options);
    // One try: a new session, its sources selected with token (none: the dialog), and started.
    static std::unique_ptr<PortalSession> createAndStart(const Options& options,
                                                         const std::optional<std::string>& token,
                                                         std::optional<std::string>& newToken, std::string& error,
                                                         PortalAnswer& answer);
    PortalAnswer start(const std::optional<std::string>& token, std::optional<std::string>& newToken,
                       std::string& error);
    // A call answered through a Request object: the results, or null with the answer and reason.
    GVariantPtr request(const char* interface, const char* method, GVariant* options, bool withSession,
                        std::chrono::milliseconds timeout, PortalAnswer& answer, std::string& error);
    void notify(const char* method, GVariant* args);

    GDBusConnectionPtr connection_;
    Options options_;
    std::string sender_;  // our unique name as the portal spells it in request paths
    std::string session_;
    std::vector<PortalStream> streams_;
    unsigned requests_ = 0;
};

// The phone's desktop through the portal: a screen cast session for the picture, started with the
// kept approval where there is one (no dialog), and, when wanted, a remote desktop session for
// the input, asked for at once but in the background, so that the picture comes while the user
// walks to the computer to approve it. Input before that approval is dropped (logged once).
class PortalDesktop {
public:
    struct Options {
        std::shared_ptr<RestoreTokens> tokens;
        bool input = true;
        std::chrono::milliseconds answerTimeout = std::chrono::seconds(60);
    };

    // The picture's session started, or null with the reason in error.
    [[nodiscard]] static std::unique_ptr<PortalDesktop> open(const Options& options, std::string& error);
    // Stops waiting for the input's approval.
    ~PortalDesktop();
    PortalDesktop(const PortalDesktop&) = delete;
    PortalDesktop& operator=(const PortalDesktop&) = delete;

    [[nodiscard]] PortalSession& picture() { return *picture_; }

    // Input, into the remote desktop session once the user approved it; false (dropped) before.
    // A desktop point goes to the input stream of the monitor holding it, as stream pixels.
    bool movePointer(Point to);
    bool nudgePointer();
    bool pressButton(std::int32_t evdevButton, bool down);
    bool scrollSteps(std::uint32_t axis, std::int32_t steps);
    bool pressKey(std::uint32_t evdevKey, bool down);
    void flush();

private:
    struct Input;
    PortalDesktop(std::unique_ptr<PortalSession> picture, std::shared_ptr<Input> input);
    // The input session when approved and warmed up; null otherwise.
    PortalSession* input();

    std::unique_ptr<PortalSession> picture_;
    std::shared_ptr<Input> input_;
    std::thread asking_;
};

}  // namespace vantrel::gnome
