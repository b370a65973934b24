#pragma once

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Backends/gnome/DBusCall.hpp"
#include "Geometry/Geometry.hpp"

namespace vantrel::gnome {

// One phone's remote desktop session with GNOME's compositor: a RemoteDesktop session and the
// ScreenCast session linked to it, on a D-Bus connection of their own. The compositor ends both
// when that connection closes, so the session lives exactly as long as this object: the capturer
// of the phone's stream and the input device hold it, and the last one to let go ends it.
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
class SessionBroker {
public:
    // The session in use, or a new one when there is none or it lacks the monitor on connector
    // (empty: any will do); null with the reason in error.
    [[nodiscard]] std::shared_ptr<RemoteSession> acquire(std::string& error, const std::string& connector = {});

private:
    std::mutex mutex_;
    std::weak_ptr<RemoteSession> current_;  // guarded by mutex_
};

}  // namespace vantrel::gnome
