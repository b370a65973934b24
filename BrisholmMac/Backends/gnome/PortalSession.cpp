#include "Backends/gnome/PortalSession.hpp"

#include <pthread.h>

#include <gio/gunixfdlist.h>

#include <algorithm>
#include <utility>

#include "Backends/gnome/DisplayConfig.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::gnome {

namespace {

constexpr const char* requestInterface = "org.freedesktop.portal.Request";
constexpr const char* sessionInterface = "org.freedesktop.portal.Session";
// Calls that show no dialog answer at once; this bounds a portal that hangs.
constexpr auto quickTimeout = std::chrono::seconds(10);
constexpr std::uint32_t sourceMonitor = 1;
constexpr std::uint32_t cursorEmbedded = 2;
constexpr std::uint32_t devicesKeyboardPointer = 1 | 2;
// Until the user revokes it: the approval outlives this session and the host.
constexpr std::uint32_t persistUntilRevoked = 2;

// The Response of one request, filled in by its signal.
struct Response {
    std::optional<std::uint32_t> code;
    GVariantPtr results;
};

void onResponse(GDBusConnection* /*connection*/, const gchar* /*sender*/, const gchar* /*path*/,
                const gchar* /*interface*/, const gchar* /*signal*/, GVariant* parameters, gpointer data) {
    auto* response = static_cast<Response*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
        response->code = 2;
        return;
    }
    std::uint32_t code = 2;
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &code, &results);
    response->code = code;
    response->results.reset(results);
}

std::string stringResult(GVariant* results, const char* key) {
    const char* value = nullptr;
    if (results != nullptr && g_variant_lookup(results, key, "&s", &value) != FALSE && value != nullptr) {
        return value;
    }
    return {};
}

}  // namespace

std::unique_ptr<PortalSession> PortalSession::open(const Options& options, std::string& error, PortalAnswer& answer) {
    std::unique_ptr<PortalSession> started;
    const auto attempt = [&](const std::optional<std::string>& token) {
        std::optional<std::string> handedOut;
        started = createAndStart(options, token, handedOut, error, answer);
        return PortalStart{answer, handedOut};
    };
    if (options.kind == Kind::screenCast && options.tokens) {
        answer = startRemembering(*options.tokens, attempt).answer;
    } else {
        answer = attempt(std::nullopt).answer;
    }
    return answer == PortalAnswer::granted ? std::move(started) : nullptr;
}

std::unique_ptr<PortalSession> PortalSession::createAndStart(const Options& options,
                                                             const std::optional<std::string>& token,
                                                             std::optional<std::string>& newToken, std::string& error,
                                                             PortalAnswer& answer) {
    answer = PortalAnswer::failed;
    auto connection = privateSessionBus(error);
    if (!connection) {
        return nullptr;
    }
    std::unique_ptr<PortalSession> session(new PortalSession(std::move(connection), options));
    const bool remote = options.kind == Kind::remoteDesktop;
    const char* main = remote ? portalRemoteDesktop : portalScreenCast;

    GVariantBuilder created;
    g_variant_builder_init(&created, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&created, "{sv}", "session_handle_token", g_variant_new_string("vantrel"));
    const auto results =
        session->request(main, "CreateSession", g_variant_builder_end(&created), false, quickTimeout, answer, error);
    if (!results) {
        return nullptr;
    }
    session->session_ = stringResult(results.get(), "session_handle");
    if (session->session_.empty()) {
        error = std::string(main) + ".CreateSession named no session";
        answer = PortalAnswer::failed;
        return nullptr;
    }
    if (remote) {
        GVariantBuilder devices;
        g_variant_builder_init(&devices, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&devices, "{sv}", "types", g_variant_new_uint32(devicesKeyboardPointer));
        if (!session->request(portalRemoteDesktop, "SelectDevices", g_variant_builder_end(&devices), true, quickTimeout,
                              answer, error)) {
            return nullptr;
        }
    }
    answer = session->start(token, newToken, error);
    if (answer != PortalAnswer::granted) {
        return nullptr;
    }
    if (session->streams_.empty()) {
        error = "the portal started no stream";
        answer = PortalAnswer::failed;
        return nullptr;
    }
    return session;
}

PortalSession::PortalSession(GDBusConnectionPtr connection, Options options)
    : connection_(std::move(connection)), options_(std::move(options)) {
    // Request objects are placed under the caller's unique name, without the colon and with
    // underscores for dots.
    std::string name = g_dbus_connection_get_unique_name(connection_.get());
    name.erase(0, 1);
    std::replace(name.begin(), name.end(), '.', '_');
    sender_ = name;
}

PortalSession::~PortalSession() {
    if (!session_.empty()) {
        std::string error;
        if (!callSync(connection_.get(), portalService, session_.c_str(), sessionInterface, "Close", nullptr, nullptr,
                      error, 1000)) {
            diagnosticLog().debug("portal: closing the session: {}", error);
        }
    }
    g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
}

PortalAnswer PortalSession::start(const std::optional<std::string>& token, std::optional<std::string>& newToken,
                                  std::string& error) {
    const bool remote = options_.kind == Kind::remoteDesktop;
    GVariantBuilder sources;
    g_variant_builder_init(&sources, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&sources, "{sv}", "types", g_variant_new_uint32(sourceMonitor));
    g_variant_builder_add(&sources, "{sv}", "multiple", g_variant_new_boolean(TRUE));
    if (!remote) {
        // Drawn into the picture: a moving pointer then costs only its damage, as on Mutter's route.
        g_variant_builder_add(&sources, "{sv}", "cursor_mode", g_variant_new_uint32(cursorEmbedded));
        g_variant_builder_add(&sources, "{sv}", "persist_mode", g_variant_new_uint32(persistUntilRevoked));
        if (token) {
            g_variant_builder_add(&sources, "{sv}", "restore_token", g_variant_new_string(token->c_str()));
        }
    }
    PortalAnswer answer = PortalAnswer::failed;
    if (!request(portalScreenCast, "SelectSources", g_variant_builder_end(&sources), true, quickTimeout, answer,
                 error)) {
        return answer;
    }
    if (!token) {
        diagnosticLog().warn("portal: {} waits for the user to approve the dialog at the computer",
                             remote ? "remote control" : "screen sharing");
    }
    GVariantBuilder none;
    g_variant_builder_init(&none, G_VARIANT_TYPE_VARDICT);
    const auto results = request(remote ? portalRemoteDesktop : portalScreenCast, "Start", g_variant_builder_end(&none),
                                 true, options_.answerTimeout, answer, error);
    if (!results) {
        return answer;
    }
    std::uint32_t devices = 0;
    if (remote && (g_variant_lookup(results.get(), "devices", "u", &devices) == FALSE ||
                   (devices & devicesKeyboardPointer) == 0)) {
        // Shared, but with the dialog's switch for remote interaction left off.
        error = "the screen was shared without remote interaction";
        return PortalAnswer::refused;
    }
    const GVariantPtr streams(g_variant_lookup_value(results.get(), "streams", G_VARIANT_TYPE("a(ua{sv})")));
    streams_ = streamsFromResults(streams.get());
    if (auto handedOut = stringResult(results.get(), "restore_token"); !handedOut.empty()) {
        newToken = std::move(handedOut);
    }
    return PortalAnswer::granted;
}

GVariantPtr PortalSession::request(const char* interface, const char* method, GVariant* options, bool withSession,
                                   std::chrono::milliseconds timeout, PortalAnswer& answer, std::string& error) {
    // Subscribed before the call, on a context of our own: the answer may come before the call's
    // own reply, and must come here, not to whoever runs GLib's default loop.
    const std::string token = "vantrel" + std::to_string(++requests_);
    const std::string path = std::string(portalPath) + "/request/" + sender_ + "/" + token;
    GVariantBuilder merged;
    g_variant_builder_init(&merged, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&merged, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    GVariantIter iter;
    g_variant_iter_init(&iter, options);
    const char* key = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
        g_variant_builder_add(&merged, "{sv}", key, value);
        g_variant_unref(value);
    }
    g_variant_unref(g_variant_ref_sink(options));
    GVariant* dictionary = g_variant_builder_end(&merged);
    GVariant* args = nullptr;
    if (std::string_view(method) == "Start") {
        args = g_variant_new("(os@a{sv})", session_.c_str(), "", dictionary);  // no parent window
    } else if (withSession) {
        args = g_variant_new("(o@a{sv})", session_.c_str(), dictionary);
    } else {
        args = g_variant_new("(@a{sv})", dictionary);
    }

    desktop::PrivateMainContext context;
    Response response;
    const guint subscription =
        g_dbus_connection_signal_subscribe(connection_.get(), portalService, requestInterface, "Response", path.c_str(),
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &response, nullptr);
    const auto handle = callSync(connection_.get(), portalService, portalPath, interface, method, args, "(o)", error,
                                 static_cast<int>(quickTimeout.count() * 1000), G_DBUS_CALL_FLAGS_NONE);
    if (handle) {
        const auto abandoned = [&] { return options_.abandon != nullptr && *options_.abandon; };
        context.iterateUntil([&] { return response.code || abandoned(); }, std::chrono::steady_clock::now() + timeout);
        if (!response.code) {
            // Takes the dialog off the screen: nobody is there to answer it any more.
            std::string closing;
            (void)callSync(connection_.get(), portalService, path.c_str(), requestInterface, "Close", nullptr, nullptr,
                           closing, 1000);
        }
    }
    g_dbus_connection_signal_unsubscribe(connection_.get(), subscription);
    if (!handle) {
        answer = PortalAnswer::failed;
        return nullptr;
    }
    answer = portalAnswer(response.code);
    if (answer != PortalAnswer::granted) {
        error = std::string(interface) + "." + method + ": " + describe(answer);
        return nullptr;
    }
    return std::move(response.results);
}

int PortalSession::openPipeWireRemote(std::string& error) {
    GUnixFDList* list = nullptr;
    GError* raw = nullptr;
    GVariantPtr reply(g_dbus_connection_call_with_unix_fd_list_sync(
        connection_.get(), portalService, portalPath, portalScreenCast, "OpenPipeWireRemote",
        g_variant_new("(oa{sv})", session_.c_str(), nullptr), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, 5000,
        nullptr, &list, nullptr, &raw));
    const GObjectPtr<GUnixFDList> fds(list);
    if (!reply) {
        error = std::string("OpenPipeWireRemote: ") + (raw != nullptr ? raw->message : "no reply");
        g_clear_error(&raw);
        return -1;
    }
    std::int32_t index = -1;
    g_variant_get(reply.get(), "(h)", &index);
    const int fd = fds ? g_unix_fd_list_get(fds.get(), index, &raw) : -1;
    if (fd < 0) {
        error = std::string("OpenPipeWireRemote gave no descriptor: ") + (raw != nullptr ? raw->message : "none");
        g_clear_error(&raw);
    }
    return fd;
}

void PortalSession::notify(const char* method, GVariant* args) {
    // The portal handles each call in a thread of its own, so calls sent without waiting overtake
    // each other (a letter before its Shift, a release before its press): each waits for its reply.
    std::string error;
    if (!callSync(connection_.get(), portalService, portalPath, portalRemoteDesktop, method, args, nullptr, error, 1000,
                  G_DBUS_CALL_FLAGS_NONE)) {
        diagnosticLog().debug("portal: {}", error);
    }
}

void PortalSession::moveOnStream(std::uint32_t node, double x, double y) {
    notify("NotifyPointerMotionAbsolute", g_variant_new("(oa{sv}udd)", session_.c_str(), nullptr, node, x, y));
}

void PortalSession::moveBy(double dx, double dy) {
    notify("NotifyPointerMotion", g_variant_new("(oa{sv}dd)", session_.c_str(), nullptr, dx, dy));
}

void PortalSession::pressButton(std::int32_t evdevButton, bool down) {
    notify("NotifyPointerButton",
           g_variant_new("(oa{sv}iu)", session_.c_str(), nullptr, evdevButton, static_cast<std::uint32_t>(down)));
}

void PortalSession::scrollSteps(std::uint32_t axis, std::int32_t steps) {
    notify("NotifyPointerAxisDiscrete", g_variant_new("(oa{sv}ui)", session_.c_str(), nullptr, axis, steps));
}

void PortalSession::pressKey(std::uint32_t evdevKey, bool down) {
    notify("NotifyKeyboardKeycode",
           g_variant_new("(oa{sv}iu)", session_.c_str(), nullptr, static_cast<std::int32_t>(evdevKey),
                         static_cast<std::uint32_t>(down)));
}

void PortalSession::flush() {
    g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
}

struct PortalDesktop::Input {
    std::atomic<bool> abandon{false};
    std::mutex mutex;
    std::unique_ptr<PortalSession> session;             // guarded by mutex; set once approved
    std::vector<std::pair<Rect, std::uint32_t>> areas;  // guarded by mutex: the desktop area of each input stream
    std::chrono::steady_clock::time_point keysFrom;     // guarded by mutex
    bool droppedSaid = false;                           // guarded by mutex
};

std::unique_ptr<PortalDesktop> PortalDesktop::open(const Options& options, std::string& error) {
    PortalAnswer answer = PortalAnswer::failed;
    auto picture = PortalSession::open(
        {PortalSession::Kind::screenCast, options.tokens, options.answerTimeout, nullptr}, error, answer);
    if (!picture) {
        if (answer == PortalAnswer::refused || answer == PortalAnswer::unanswered) {
            diagnosticLog().warn("portal: screen sharing was not approved at the computer ({}): the phone sees nothing",
                                 describe(answer));
        }
        return nullptr;
    }
    diagnosticLog().info("portal: screen sharing started with {} stream(s)", picture->streams().size());
    std::unique_ptr<PortalDesktop> desktop(
        new PortalDesktop(std::move(picture), options.input ? std::make_shared<Input>() : nullptr));
    if (!desktop->input_) {
        return desktop;
    }
    diagnosticLog().warn("portal: the phone's input waits for the user to allow remote control at the computer");
    desktop->asking_ = std::thread([input = desktop->input_, timeout = options.answerTimeout] {
        pthread_setname_np(pthread_self(), "vantrel.portal");
        std::string reason;
        PortalAnswer answered = PortalAnswer::failed;
        auto session = PortalSession::open({PortalSession::Kind::remoteDesktop, nullptr, timeout, &input->abandon},
                                           reason, answered);
        if (!session) {
            if (input->abandon) {
                diagnosticLog().debug("portal: the phone left before remote control was approved");
            } else if (answered == PortalAnswer::refused || answered == PortalAnswer::unanswered) {
                diagnosticLog().warn(
                    "portal: remote control was not allowed at the computer ({}): the phone can only "
                    "watch",
                    describe(answered));
            } else {
                diagnosticLog().warn("portal: no remote control: {}", reason);
            }
            return;
        }
        const auto monitors = readMonitors(session->connection());
        std::vector<std::pair<Rect, std::uint32_t>> areas;
        for (const auto& stream : session->streams()) {
            if (stream.area) {
                areas.emplace_back(*stream.area, stream.node);
            } else if (session->streams().size() == 1 && monitors.size() == 1) {
                areas.emplace_back(monitors.front().bounds, stream.node);
            }
        }
        session->pressKey(shiftLeftKey, true);
        session->pressKey(shiftLeftKey, false);
        session->flush();
        diagnosticLog().info(
            "portal: remote control allowed at the computer; the phone's input goes through the portal");
        const std::lock_guard lock(input->mutex);
        input->session = std::move(session);
        input->areas = std::move(areas);
        input->keysFrom = std::chrono::steady_clock::now() + warmUpTime;
    });
    return desktop;
}

PortalDesktop::PortalDesktop(std::unique_ptr<PortalSession> picture, std::shared_ptr<Input> input)
    : picture_(std::move(picture)), input_(std::move(input)) {}

PortalDesktop::~PortalDesktop() {
    if (input_) {
        input_->abandon = true;
    }
    if (asking_.joinable()) {
        asking_.join();
    }
}

PortalSession* PortalDesktop::input() {
    if (!input_) {
        return nullptr;
    }
    const std::lock_guard lock(input_->mutex);
    if (!input_->session && !std::exchange(input_->droppedSaid, true)) {
        diagnosticLog().info("input: dropped until remote control is allowed at the computer");
    }
    return input_->session.get();
}

bool PortalDesktop::movePointer(Point to) {
    auto* session = input();
    if (session == nullptr) {
        return false;
    }
    std::optional<std::pair<Rect, std::uint32_t>> target;
    {
        const std::lock_guard lock(input_->mutex);
        for (const auto& [area, node] : input_->areas) {
            if (to.x >= area.minX() && to.x < area.maxX() && to.y >= area.minY() && to.y < area.maxY()) {
                target = std::pair{area, node};
            }
        }
    }
    if (!target) {
        return false;
    }
    session->moveOnStream(target->second, to.x - target->first.x, to.y - target->first.y);
    return true;
}

bool PortalDesktop::nudgePointer() {
    auto* session = input();
    if (session == nullptr) {
        return false;
    }
    session->moveBy(1.0, 0.0);
    session->moveBy(-1.0, 0.0);
    session->flush();
    return true;
}

bool PortalDesktop::pressButton(std::int32_t evdevButton, bool down) {
    auto* session = input();
    if (session != nullptr) {
        session->pressButton(evdevButton, down);
    }
    return session != nullptr;
}

bool PortalDesktop::scrollSteps(std::uint32_t axis, std::int32_t steps) {
    auto* session = input();
    if (session != nullptr) {
        session->scrollSteps(axis, steps);
    }
    return session != nullptr;
}

bool PortalDesktop::pressKey(std::uint32_t evdevKey, bool down) {
    auto* session = input();
    if (session == nullptr) {
        return false;
    }
    std::chrono::steady_clock::time_point keysFrom;
    {
        const std::lock_guard lock(input_->mutex);
        keysFrom = input_->keysFrom;
    }
    // Only the first keys of a session wait, at most the warm-up time.
    std::this_thread::sleep_until(keysFrom);
    session->pressKey(evdevKey, down);
    return true;
}

void PortalDesktop::flush() {
    if (auto* session = input()) {
        session->flush();
    }
}

}  // namespace vantrel::gnome
