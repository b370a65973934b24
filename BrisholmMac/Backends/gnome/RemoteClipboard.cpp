#include "Backends/gnome/RemoteClipboard.hpp"

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Backends/gnome/DBusCall.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::gnome {

namespace {

using namespace std::chrono_literals;

constexpr const char* sessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
// The longest text of another owner's that is read to be put back: beyond it the wait would hold
// up the phone's typing, and the pasted text stays on the clipboard.
constexpr std::size_t restoreBudget = 4U << 20U;
constexpr auto readTime = 1s;
constexpr auto keeperWait = 1s;

GVariant* typesOption(const ClipboardContent& content) {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    if (!content.empty()) {
        GVariantBuilder types;
        g_variant_builder_init(&types, G_VARIANT_TYPE_STRING_ARRAY);
        for (const auto& [type, bytes] : content) {
            g_variant_builder_add(&types, "s", type.c_str());
        }
        g_variant_builder_add(&options, "{sv}", "mime-types", g_variant_builder_end(&types));
    }
    return g_variant_new("(a{sv})", &options);
}

// The descriptor a call handed back in its reply's (h), or -1 with the reason in error.
int replyDescriptor(GDBusConnection* connection, const std::string& path, const char* method, GVariant* args,
                    std::string& error) {
    GUnixFDList* fds = nullptr;
    GError* raw = nullptr;
    const GVariantPtr reply(g_dbus_connection_call_with_unix_fd_list_sync(
        connection, remoteDesktopService, path.c_str(), sessionInterface, method, args, G_VARIANT_TYPE("(h)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &fds, nullptr, &raw));
    const GObjectPtr<GUnixFDList> list(fds);
    if (!reply) {
        error = std::string(method) + ": " + (raw != nullptr ? raw->message : "no reply");
        g_clear_error(&raw);
        return -1;
    }
    gint32 index = 0;
    g_variant_get(reply.get(), "(h)", &index);
    const int fd = list ? g_unix_fd_list_get(list.get(), index, &raw) : -1;
    if (fd < 0) {
        error = std::string(method) + ": no descriptor in the reply";
        g_clear_error(&raw);
    }
    return fd;
}

// Reads fd to its end by deadline, appending to bytes, up to limit bytes in all; false when it did
// not end in time or passed the limit.
bool readAll(int fd, std::string& bytes, std::size_t limit, std::chrono::steady_clock::time_point deadline) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    char buffer[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return false;
        }
        const auto got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > limit) {
            return false;
        }
    }
}

bool writeAll(int fd, const std::string& bytes) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const auto put = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace

std::vector<std::string> announcedTypes(GVariant* options) {
    std::vector<std::string> types;
    GVariantPtr value(g_variant_lookup_value(options, "mime-types", nullptr));
    if (value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE("(as)"))) {
        value.reset(g_variant_get_child_value(value.get(), 0));
    }
    if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING_ARRAY)) {
        return types;
    }
    GVariantIter iter;
    g_variant_iter_init(&iter, value.get());
    const char* type = nullptr;
    while (g_variant_iter_next(&iter, "&s", &type)) {
        if (std::find(types.begin(), types.end(), type) == types.end()) {
            types.emplace_back(type);
        }
    }
    return types;
}

ClipboardContent textContent(std::string_view utf8) {
    ClipboardContent content;
    for (const char* type : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT", "STRING"}) {
        content.emplace_back(type, std::string(utf8));
    }
    return content;
}

std::optional<std::string> textType(const std::vector<std::string>& types) {
    for (const char* wanted : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"}) {
        if (std::find(types.begin(), types.end(), wanted) != types.end()) {
            return wanted;
        }
    }
    return std::nullopt;
}

std::unique_ptr<RemoteClipboard> RemoteClipboard::open(GDBusConnection* connection, std::string sessionPath,
                                                       std::string& error) {
    std::unique_ptr<RemoteClipboard> clipboard(new RemoteClipboard(connection, std::move(sessionPath)));
    // Subscribed on the thread's context before the clipboard is enabled, which announces its owner.
    g_main_context_push_thread_default(clipboard->context_);
    clipboard->subscription_ = g_dbus_connection_signal_subscribe(
        connection, nullptr, sessionInterface, nullptr, clipboard->path_.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        &RemoteClipboard::onSignal, clipboard.get(), nullptr);
    g_main_context_pop_thread_default(clipboard->context_);
    clipboard->thread_ = std::thread([self = clipboard.get()] { self->run(); });
    // The compositor names the clipboard's present owner's types as it enables the session's
    // clipboard, before its reply: once the thread has dispatched what came first, they are known.
    if (!callSync(connection, remoteDesktopService, clipboard->path_.c_str(), sessionInterface, "EnableClipboard",
                  typesOption({}), nullptr, error) ||
        !clipboard->onThread([] {})) {
        error = "cannot use the clipboard of the remote desktop session: " + error;
        return nullptr;
    }
    return clipboard;
}

RemoteClipboard::RemoteClipboard(GDBusConnection* connection, std::string sessionPath)
    : connection_(connection),
      path_(std::move(sessionPath)),
      context_(g_main_context_new()),
      loop_(g_main_loop_new(context_, FALSE)) {}

RemoteClipboard::~RemoteClipboard() {
    std::string error;
    if (!callSync(connection_, remoteDesktopService, path_.c_str(), sessionInterface, "DisableClipboard", nullptr,
                  nullptr, error, 1000)) {
        diagnosticLog().debug("gnome: disabling the session's clipboard: {}", error);
    }
    // Quit from inside the loop: a quit before the thread has entered the loop would be lost.
    post([this] { g_main_loop_quit(loop_); });
    if (thread_.joinable()) {
        thread_.join();
    }
    // No signal is dispatched any more: the context's pending sources go with it, unrun.
    if (subscription_ != 0) {
        g_dbus_connection_signal_unsubscribe(connection_, subscription_);
    }
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void RemoteClipboard::run() {
    pthread_setname_np(pthread_self(), "vantrel.paste");
    g_main_context_push_thread_default(context_);
    g_main_loop_run(loop_);
    g_main_context_pop_thread_default(context_);
}

void RemoteClipboard::post(std::function<void()> work) {
    // A source of the context's own rather than g_main_context_invoke, which runs the work on the
    // calling thread while nobody iterates the context: work posted here runs on the thread, after
    // whatever was dispatched to it before.
    GSource* source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](gpointer data) {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, context_);
    g_source_unref(source);
}

bool RemoteClipboard::onThread(std::function<void()> work) {
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    post([work = std::move(work), done] {
        work();
        done->set_value();
    });
    return finished.wait_for(2s) == std::future_status::ready;
}

void RemoteClipboard::onSignal(GDBusConnection* /*connection*/, const gchar* /*sender*/, const gchar* /*path*/,
                               const gchar* /*interface*/, const gchar* signal, GVariant* parameters, gpointer self) {
    auto* clipboard = static_cast<RemoteClipboard*>(self);
    if (g_strcmp0(signal, "SelectionOwnerChanged") == 0 &&
        g_variant_is_of_type(parameters, G_VARIANT_TYPE("(a{sv})"))) {
        const GVariantPtr options(g_variant_get_child_value(parameters, 0));
        clipboard->ownerChanged(options.get());
    } else if (g_strcmp0(signal, "SelectionTransfer") == 0 &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(su)"))) {
        const char* type = nullptr;
        std::uint32_t serial = 0;
        g_variant_get(parameters, "(&su)", &type, &serial);
        clipboard->transfer(type, serial);
    }
}

void RemoteClipboard::ownerChanged(GVariant* options) {
    gboolean sessionOwns = FALSE;
    g_variant_lookup(options, "session-is-owner", "b", &sessionOwns);
    const auto types = announcedTypes(options);
    diagnosticLog().debug("gnome: the clipboard's owner changed ({}, {} type(s))",
                          sessionOwns != FALSE ? "this session" : "another", types.size());
    const std::lock_guard lock(mutex_);
    sessionOwns_ = sessionOwns != FALSE;
    foreignTypes_ = sessionOwns_ ? std::vector<std::string>{} : std::move(types);
}

void RemoteClipboard::transfer(const char* mimeType, std::uint32_t serial) {
    std::optional<std::string> bytes;
    {
        const std::lock_guard lock(mutex_);
        for (const auto& [type, content] : offered_) {
            if (type == mimeType) {
                bytes = content;
                break;
            }
        }
    }
    bool written = false;
    if (bytes) {
        std::string error;
        const int fd = replyDescriptor(connection_, path_, "SelectionWrite", g_variant_new("(u)", serial), error);
        if (fd < 0) {
            diagnosticLog().debug("gnome: clipboard request {} for {}: {}", serial, mimeType, error);
        } else {
            written = writeAll(fd, *bytes);
            ::close(fd);
        }
    }
    std::string error;
    if (!callSync(connection_, remoteDesktopService, path_.c_str(), sessionInterface, "SelectionWriteDone",
                  g_variant_new("(ub)", serial, static_cast<gboolean>(written)), nullptr, error)) {
        diagnosticLog().debug("gnome: clipboard request {}: {}", serial, error);
    }
    diagnosticLog().debug("gnome: clipboard request {} for {}: {}", serial, mimeType,
                          written ? "answered" : "nothing to give");
    if (written) {
        const std::lock_guard lock(mutex_);
        ++transfers_;
    }
    served_.notify_all();
}

bool RemoteClipboard::offer(ClipboardContent content) {
    const GVariantPtr options(g_variant_ref_sink(typesOption(content)));
    const bool text = !content.empty();
    std::uint64_t answered = 0;
    {
        const std::lock_guard lock(mutex_);
        offered_ = std::move(content);
        answered = transfers_;
    }
    std::string error;
    if (!callSync(connection_, remoteDesktopService, path_.c_str(), sessionInterface, "SetSelection",
                  g_variant_ref(options.get()), nullptr, error)) {
        diagnosticLog().warn("gnome: cannot set the clipboard: {}", error);
        return false;
    }
    if (!text || !keeperReads_) {
        return onThread([] {});
    }
    // The compositor's clipboard keeper reads a new owner's text at once, but its request may come
    // after the reply (a busy compositor): it is waited for, as counted after a paste chord it
    // would pass for the application's paste. A compositor whose keeper did not read once is not
    // waited for again.
    std::unique_lock lock(mutex_);
    if (!served_.wait_for(lock, keeperWait, [&] { return transfers_ > answered; })) {
        keeperReads_ = false;
        diagnosticLog().debug("gnome: the compositor's clipboard keeper did not read the offered text");
    }
    return true;
}

std::optional<ClipboardContent> RemoteClipboard::readForeign(const std::vector<std::string>& types) {
    const auto type = textType(types);
    if (!type) {
        diagnosticLog().info("gnome: the clipboard holds no text; a paste replaces what it holds");
        return std::nullopt;
    }
    std::string error;
    const int fd = replyDescriptor(connection_, path_, "SelectionRead", g_variant_new("(s)", type->c_str()), error);
    if (fd < 0) {
        diagnosticLog().info("gnome: reading the clipboard as {}: {}", *type, error);
        return std::nullopt;
    }
    std::string bytes;
    const bool complete = readAll(fd, bytes, restoreBudget, std::chrono::steady_clock::now() + readTime);
    ::close(fd);
    if (!complete) {
        diagnosticLog().info("gnome: the clipboard's text could not be read in time or is too long to put back");
        return std::nullopt;
    }
    return textContent(bytes);
}

bool RemoteClipboard::paste(std::string_view utf8, std::size_t chords,
                            const std::function<void(std::size_t)>& pressChord, PasteWaits waits) {
    std::optional<ClipboardContent> before;
    {
        std::unique_lock lock(mutex_);
        if (sessionOwns_) {
            before = offered_;  // put back earlier, or an earlier paste's text nobody took back
        } else if (foreignTypes_.empty()) {
            before = ClipboardContent{};
        } else {
            const auto types = foreignTypes_;
            lock.unlock();
            before = readForeign(types);
        }
    }
    if (!offer(textContent(utf8))) {
        return false;
    }
    std::uint64_t baseline = 0;
    {
        const std::lock_guard lock(mutex_);
        baseline = transfers_;
    }
    bool taken = false;
    for (std::size_t chord = 0; chord < chords && !taken; ++chord) {
        pressChord(chord);
        std::unique_lock lock(mutex_);
        taken = served_.wait_for(lock, chord + 1 < chords ? waits.firstChord : waits.lastChord,
                                 [&] { return transfers_ > baseline; });
    }
    if (taken) {
        // The compositor passes the text on to the application while this waits: offering other
        // content now could cut that transfer off (the application then asks again in another
        // type, and gets the earlier content or nothing). The earlier content goes back once no
        // request has come for a moment.
        std::unique_lock lock(mutex_);
        const auto until = std::chrono::steady_clock::now() + waits.settleLimit;
        for (auto seen = transfers_; served_.wait_for(lock, waits.settle, [&] { return transfers_ != seen; }) &&
                                     std::chrono::steady_clock::now() < until;
             seen = transfers_) {
        }
    }
    if (before) {
        offer(std::move(*before));
    } else {
        diagnosticLog().info("gnome: the clipboard's earlier content is not put back after a paste");
    }
    return taken;
}

}  // namespace vantrel::gnome
