#pragma once

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Backends/gnome/DBusCall.hpp"
#include "Backends/gnome/PortalSession.hpp"
#include "Geometry/Geometry.hpp"

namespace vantrel::gnome {

// One phone's remote desktop session with GNOME's compositor: a RemoteDesktop session and the
// ScreenCast session linked to it, on a D-Bus connection of their own. The compositor ends both
// when that connection closes, so the session lives exactly as long as this object: the capturer
// of the phone's stream and the input device hold it, and the last one to let go ends it.
//
// Or, where the compositor's own services are missing or refuse this program, the same through
// the desktop portal (PortalDesktop): its streams come from a PipeWire remote of the portal's
// (pipeWireRemote), and input waits until the user has allowed remote control at the computer.
//
// Thread-safe: the capturer records monitors on the capture queue, the input device sends its
// events from the main thread (D-Bus keeps the order of the messages of one connection).
class RemoteSession {
public:
    // A monitor recorded into the session: the stream object and its PipeWire node.
    struct Stream {
        std::string path;
        std::uint32_t node = 0;
    };

    // A started session, or null with the reason in error.
    [[nodiscard]] static std::shared_ptr<RemoteSession> open(std::string& error);
    // The same through the desktop portal: the picture's approval is asked for (or shown from
    // options.tokens) before this returns, the input's in the background.
    [[nodiscard]] static std::shared_ptr<RemoteSession> openPortal(const PortalDesktop::Options& options,
                                                                   std::string& error);
    ~RemoteSession();
    RemoteSession(const RemoteSession&) = delete;
    RemoteSession& operator=(const RemoteSession&) = delete;

    // The stream of the monitor on connector (every monitor is recorded, with the pointer drawn
    // in, when the session starts), now placed at area on the desktop for the pointer's motion;
    // none when the session has no stream of that monitor.
    [[nodiscard]] std::optional<Stream> record(const std::string& connector, const Rect& area);
    [[nodiscard]] bool records(const std::string& connector);

    // A newer session took this one's place (it records a monitor this one lacks): its users move
    // to the new one at their next use.
    void supersede() { superseded_ = true; }
    [[nodiscard]] bool superseded() const { return superseded_; }

    // The session's own connection (the capturer reads the monitors through it).
    [[nodiscard]] GDBusConnection* connection() const { return connection_.get(); }
    // The remote desktop session's object (its clipboard is reached there).
    [[nodiscard]] const std::string& sessionPath() const { return remoteDesktop_; }

    [[nodiscard]] bool throughPortal() const { return portal_ != nullptr; }
    // A descriptor of the PipeWire remote that shows the streams, the caller's to close; -1 for
    // the session's own PipeWire daemon (the compositor's streams are there for everyone), and
    // with the reason in error when the portal gives none.
    [[nodiscard]] int pipeWireRemote(std::string& error);

    // Synthetic input. Each call is queued on the connection without waiting for an answer.
    // Moves the pointer to a desktop point, on the stream of the monitor that holds it; false when
    // no stream of the session shows that point (the compositor places motion only on streams).
    bool movePointer(Point to);
    // Moves the pointer one pixel and back: the compositor paints (the pointer is drawn into the
    // streams) and so sends each stream a frame.
    void nudgePointer();
    // Buttons as evdev numbers (BTN_LEFT is 0x110).
    void pressButton(std::int32_t evdevButton, bool down);
    // Wheel steps: axis 0 vertical, 1 horizontal; positive steps scroll down or right.
    void scrollSteps(std::uint32_t axis, std::int32_t steps);
    // Keys as evdev numbers (XKB keycode - 8).
    void pressKey(std::uint32_t evdevKey, bool down);
    // Returns once what was queued has been written to the bus.
    void flush();

private:
    RemoteSession(GDBusConnectionPtr connection, std::string remoteDesktop, std::string screenCast);
    explicit RemoteSession(std::unique_ptr<PortalDesktop> portal);
    bool recordAndStart(std::string& error);
    void send(const char* method, GVariant* args);
    // The compositor's virtual keyboard drops the first keys of a new session: a harmless key goes
    // first, and real keys wait a moment after it.
    void warmUp();
    void waitForWarmUp();

    GDBusConnectionPtr connection_;
    std::string remoteDesktop_;
    std::string screenCast_;
    std::chrono::steady_clock::time_point keysFrom_;
    std::atomic<bool> superseded_{false};
    std::unique_ptr<PortalDesktop> portal_;  // set on the portal's route

    std::mutex mutex_;
    struct Recorded {
        Stream stream;
        Rect area;
    };
    std::map<std::string, Recorded> streams_;  // by connector; guarded by mutex_
};

// Hands out the one remote desktop session of the phone now connected: the capturer (capture
// queue) and the input device (main thread) of one phone get the same, whichever asks first, and
// a new one comes once both have let go of the last.
//
// The session comes from the compositor's own services, or from the desktop portal where those
// are missing (the backend's portal form) or refuse this program at the first session (then for
// good, logged once).
class SessionBroker {
public:
    struct Options {
        // Straight to the portal: the compositor's own services are not on the bus.
        bool portal = false;
        PortalDesktop::Options portalOptions;
    };
    // Who asks: only the capturer may raise the portal's dialog, since it waits for the user's
    // answer; the input device (main thread) uses what the capturer opened and never waits while
    // the portal asks.
    enum class Asker { capturer, input };

    SessionBroker() = default;
    explicit SessionBroker(Options options) : options_(std::move(options)) {}

    // The session in use, or a new one when there is none or it lacks the monitor on connector
    // (empty: any will do; the portal's session stays, as a new one would record the same
    // monitors); null with the reason in error.
    [[nodiscard]] std::shared_ptr<RemoteSession> acquire(std::string& error, const std::string& connector = {},
                                                         Asker asker = Asker::capturer);

private:
    std::mutex mutex_;
    std::condition_variable opened_;        // a portal session that was being opened is there
    Options options_;                       // guarded by mutex_ (portal turns on at a refusal)
    std::weak_ptr<RemoteSession> current_;  // guarded by mutex_
    bool opening_ = false;                  // guarded by mutex_: the portal asks the user
};

}  // namespace vantrel::gnome
