#include "Backends/gnome/RemoteSession.hpp"

#include <algorithm>
#include <thread>
#include <utility>

#include "Backends/gnome/DisplayConfig.hpp"
#include "Backends/gnome/PortalRules.hpp"

#include "Log/DiagnosticLog.hpp"

namespace vantrel::gnome {

namespace {

constexpr const char* remoteDesktopPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* remoteDesktopSession = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char* screenCastPath = "/org/gnome/Mutter/ScreenCast";
constexpr const char* screenCastSession = "org.gnome.Mutter.ScreenCast.Session";
constexpr const char* screenCastStream = "org.gnome.Mutter.ScreenCast.Stream";
// The compositor draws the pointer into the frames: a moving pointer then costs its damage only.
constexpr std::uint32_t cursorEmbedded = 1;
constexpr auto streamAddedTimeout = std::chrono::seconds(5);

std::string objectPath(GVariant* reply) {
    const char* path = nullptr;
    g_variant_get(reply, "(&o)", &path);
    return path;
}

// The nodes named by PipeWireStreamAdded, by stream path.
struct AddedStreams {
    std::map<std::string, std::uint32_t> nodes;
};

void onStreamAdded(GDBusConnection* /*connection*/, const gchar* /*sender*/, const gchar* path,
                   const gchar* /*interface*/, const gchar* /*signal*/, GVariant* parameters, gpointer data) {
    std::uint32_t node = 0;
    g_variant_get(parameters, "(u)", &node);
    static_cast<AddedStreams*>(data)->nodes[path] = node;
}

}  // namespace

std::shared_ptr<RemoteSession> RemoteSession::open(std::string& error) {
    auto connection = privateSessionBus(error);
    if (!connection) {
        return nullptr;
    }
    const auto created = callSync(connection.get(), remoteDesktopService, remoteDesktopPath, remoteDesktopService,
                                  "CreateSession", nullptr, "(o)", error);
    if (!created) {
        return nullptr;
    }
    std::string remoteDesktop = objectPath(created.get());
    const auto id = property(connection.get(), remoteDesktopService, remoteDesktop.c_str(), remoteDesktopSession,
                             "SessionId", error);
    if (!id || !g_variant_is_of_type(id.get(), G_VARIANT_TYPE_STRING)) {
        error = "the remote desktop session has no id: " + error;
        return nullptr;
    }
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "remote-desktop-session-id",
                          g_variant_new_string(g_variant_get_string(id.get(), nullptr)));
    const auto screenCast = callSync(connection.get(), screenCastService, screenCastPath, screenCastService,
                                     "CreateSession", g_variant_new("(a{sv})", &options), "(o)", error);
    if (!screenCast) {
        return nullptr;
    }
    std::shared_ptr<RemoteSession> session(
        new RemoteSession(std::move(connection), std::move(remoteDesktop), objectPath(screenCast.get())));
    if (!session->recordAndStart(error)) {
        return nullptr;
    }
    session->warmUp();
    diagnosticLog().info("gnome: remote desktop session {} started with {} monitor(s)", session->remoteDesktop_,
                         session->streams_.size());
    return session;
}

std::shared_ptr<RemoteSession> RemoteSession::openPortal(const PortalDesktop::Options& options, std::string& error) {
    auto portal = PortalDesktop::open(options, error);
    if (!portal) {
        return nullptr;
    }
    std::shared_ptr<RemoteSession> session(new RemoteSession(std::move(portal)));
    // The portal names no monitor: a stream shows the monitor placed where it is.
    const auto monitors = readMonitors(session->connection());
    const std::lock_guard lock(session->mutex_);
    for (const auto& [connector, stream] : streamsByConnector(session->portal_->picture().streams(), monitors)) {
        const auto monitor = std::find_if(monitors.begin(), monitors.end(),
                                          [&](const MonitorFacts& facts) { return facts.outputName == connector; });
        session->streams_[connector] = Recorded{Stream{{}, stream.node}, monitor->bounds};
    }
    if (session->streams_.empty()) {
        diagnosticLog().warn("gnome: no stream of the portal matches a monitor of the compositor");
    }
    return session;
}

bool RemoteSession::recordAndStart(std::string& error) {
    // The compositor starts only the streams recorded before the session starts, so every monitor
    // is recorded now: the phone may switch to any of them later. A stream nobody reads costs the
    // compositor nothing. Subscribed first: the streams are announced as the session starts.
    desktop::PrivateMainContext context;
    AddedStreams added;
    const guint subscription =
        g_dbus_connection_signal_subscribe(connection_.get(), nullptr, screenCastStream, "PipeWireStreamAdded", nullptr,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onStreamAdded, &added, nullptr);
    std::map<std::string, Recorded> recorded;
    for (const auto& monitor : readMonitors(connection_.get())) {
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "cursor-mode", g_variant_new_uint32(cursorEmbedded));
        const auto stream =
            callSync(connection_.get(), screenCastService, screenCast_.c_str(), screenCastSession, "RecordMonitor",
                     g_variant_new("(sa{sv})", monitor.outputName.c_str(), &options), "(o)", error);
        if (!stream) {
            diagnosticLog().warn("gnome: cannot record monitor {}: {}", monitor.outputName, error);
            continue;
        }
        recorded[monitor.outputName] = Recorded{Stream{objectPath(stream.get()), 0}, monitor.bounds};
    }
    const bool started =
        !recorded.empty() && callSync(connection_.get(), remoteDesktopService, remoteDesktop_.c_str(),
                                      remoteDesktopSession, "Start", nullptr, nullptr, error) != nullptr;
    if (started) {
        const auto allNamed = [&] {
            for (const auto& [connector, entry] : recorded) {
                if (!added.nodes.contains(entry.stream.path)) {
                    return false;
                }
            }
            return true;
        };
        context.iterateUntil(allNamed, std::chrono::steady_clock::now() + streamAddedTimeout);
    }
    g_dbus_connection_signal_unsubscribe(connection_.get(), subscription);
    if (recorded.empty()) {
        error = "the compositor lists no monitor to record";
        return false;
    }
    if (!started) {
        return false;
    }
    const std::lock_guard lock(mutex_);
    for (auto& [connector, entry] : recorded) {
        if (const auto node = added.nodes.find(entry.stream.path); node != added.nodes.end()) {
            entry.stream.node = node->second;
            streams_[connector] = entry;
        } else {
            diagnosticLog().warn("gnome: the compositor named no PipeWire node for monitor {}", connector);
        }
    }
    return true;
}

RemoteSession::RemoteSession(GDBusConnectionPtr connection, std::string remoteDesktop, std::string screenCast)
    : connection_(std::move(connection)),
      remoteDesktop_(std::move(remoteDesktop)),
      screenCast_(std::move(screenCast)) {}

RemoteSession::RemoteSession(std::unique_ptr<PortalDesktop> portal) : portal_(std::move(portal)) {
    // The monitors are read over a connection of the session's, as on the compositor's route.
    std::string error;
    connection_ = privateSessionBus(error);
    if (!connection_) {
        diagnosticLog().warn("gnome: {}", error);
    }
}

RemoteSession::~RemoteSession() {
    if (portal_) {
        portal_.reset();
        if (connection_) {
            g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
        }
        diagnosticLog().info("gnome: the portal's session ended");
        return;
    }
    // Stop says goodbye; closing the connection would end the session anyway, and releases
    // whatever the phone left pressed.
    std::string error;
    if (!callSync(connection_.get(), remoteDesktopService, remoteDesktop_.c_str(), remoteDesktopSession, "Stop",
                  nullptr, nullptr, error, 1000)) {
        diagnosticLog().debug("gnome: stopping the remote desktop session: {}", error);
    }
    g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
    diagnosticLog().info("gnome: remote desktop session {} ended", remoteDesktop_);
}

std::optional<RemoteSession::Stream> RemoteSession::record(const std::string& connector, const Rect& area) {
    const std::lock_guard lock(mutex_);
    const auto found = streams_.find(connector);
    if (found == streams_.end()) {
        return std::nullopt;
    }
    found->second.area = area;
    return found->second.stream;
}

int RemoteSession::pipeWireRemote(std::string& error) {
    if (!portal_) {
        return -1;
    }
    return portal_->picture().openPipeWireRemote(error);
}

bool RemoteSession::records(const std::string& connector) {
    const std::lock_guard lock(mutex_);
    return streams_.contains(connector);
}

void RemoteSession::send(const char* method, GVariant* args) {
    // No reply asked for: events go out in order without a round trip each.
    g_dbus_connection_call(connection_.get(), remoteDesktopService, remoteDesktop_.c_str(), remoteDesktopSession,
                           method, args, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr, nullptr);
}

bool RemoteSession::movePointer(Point to) {
    if (portal_) {
        return portal_->movePointer(to);
    }
    std::string path;
    Point local;
    {
        const std::lock_guard lock(mutex_);
        for (const auto& [connector, recorded] : streams_) {
            const Rect& area = recorded.area;
            if (to.x >= area.minX() && to.x < area.maxX() && to.y >= area.minY() && to.y < area.maxY()) {
                path = recorded.stream.path;
                local = Point{to.x - area.x, to.y - area.y};
            }
        }
    }
    if (path.empty()) {
        return false;
    }
    send("NotifyPointerMotionAbsolute", g_variant_new("(sdd)", path.c_str(), local.x, local.y));
    return true;
}

void RemoteSession::nudgePointer() {
    if (portal_) {
        portal_->nudgePointer();
        return;
    }
    send("NotifyPointerMotionRelative", g_variant_new("(dd)", 1.0, 0.0));
    send("NotifyPointerMotionRelative", g_variant_new("(dd)", -1.0, 0.0));
    flush();
}

void RemoteSession::pressButton(std::int32_t evdevButton, bool down) {
    if (portal_) {
        portal_->pressButton(evdevButton, down);
        return;
    }
    send("NotifyPointerButton", g_variant_new("(ib)", evdevButton, static_cast<gboolean>(down)));
}

void RemoteSession::scrollSteps(std::uint32_t axis, std::int32_t steps) {
    if (portal_) {
        portal_->scrollSteps(axis, steps);
        return;
    }
    send("NotifyPointerAxisDiscrete", g_variant_new("(ui)", axis, steps));
}

void RemoteSession::pressKey(std::uint32_t evdevKey, bool down) {
    if (portal_) {
        portal_->pressKey(evdevKey, down);
        return;
    }
    waitForWarmUp();
    send("NotifyKeyboardKeycode", g_variant_new("(ub)", evdevKey, static_cast<gboolean>(down)));
}

void RemoteSession::flush() {
    if (portal_) {
        portal_->flush();
        return;
    }
    g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
}

void RemoteSession::warmUp() {
    send("NotifyKeyboardKeycode", g_variant_new("(ub)", shiftLeftKey, TRUE));
    send("NotifyKeyboardKeycode", g_variant_new("(ub)", shiftLeftKey, FALSE));
    flush();
    keysFrom_ = std::chrono::steady_clock::now() + warmUpTime;
}

void RemoteSession::waitForWarmUp() {
    // Only the first keys of a session wait, at most warmUpTime.
    std::this_thread::sleep_until(keysFrom_);
}

std::shared_ptr<RemoteSession> SessionBroker::acquire(std::string& error, const std::string& connector, Asker asker) {
    std::unique_lock lock(mutex_);
    auto session = current_.lock();
    while (!session && opening_) {
        if (asker == Asker::input) {
            error = "the desktop portal is still asking the user at the computer";
            return nullptr;
        }
        opened_.wait(lock);
        session = current_.lock();
    }
    if (session && (connector.empty() || session->throughPortal() || session->records(connector))) {
        return session;
    }
    if (session) {
        // A monitor plugged in after the session started: only a new session records it.
        diagnosticLog().info("gnome: monitor {} is new; a new remote desktop session records it", connector);
        session->supersede();
    }
    if (!options_.portal) {
        session = RemoteSession::open(error);
        if (session || !mutterRefuses(error)) {
            current_ = session;
            return session;
        }
        diagnosticLog().warn(
            "gnome: the compositor's remote desktop does not serve this program ({}); the desktop "
            "portal is asked instead, which needs the user's approval at the computer",
            error);
        options_.portal = true;
    }
    if (asker == Asker::input) {
        error = "input waits for the phone's picture, whose session the desktop portal starts";
        return nullptr;
    }
    // The portal may wait a minute for the user: meanwhile the input device must not wait for the
    // lock (it runs on the main thread), and another capturer waits for this session.
    opening_ = true;
    const auto portalOptions = options_.portalOptions;
    lock.unlock();
    session = RemoteSession::openPortal(portalOptions, error);
    lock.lock();
    opening_ = false;
    current_ = session;
    opened_.notify_all();
    return session;
}

}  // namespace vantrel::gnome
