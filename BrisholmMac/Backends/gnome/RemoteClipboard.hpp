#pragma once

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace vantrel::gnome {

// What a clipboard holds: its content in each type it offers (MIME types, and the X11 names
// Xwayland clients read), in the order offered.
using ClipboardContent = std::vector<std::pair<std::string, std::string>>;

// Text in the types applications ask for: GTK and Qt ask for UTF-8 plain text, X11 clients
// through Xwayland for UTF8_STRING (older ones STRING or TEXT).
[[nodiscard]] ClipboardContent textContent(std::string_view utf8);

// The type another owner's text is read in to be put back after a paste: UTF-8 text by the name
// Wayland clients give it, else by the names X11 clients do; none when the clipboard holds no text.
// Only text is put back: the compositor reads one type at a time ("read in parallel" is refused),
// a picture or a file list would hold up the phone's typing, and the compositor's own keeper of the
// clipboard keeps nothing but text once the session that owns it ends anyway.
[[nodiscard]] std::optional<std::string> textType(const std::vector<std::string>& types);

// The types of a clipboard's owner as the compositor announces them (SelectionOwnerChanged's
// "mime-types"), each once. Mutter 43 wraps the list in a tuple, (as), where its interface
// describes a plain as; both are read.
[[nodiscard]] std::vector<std::string> announcedTypes(GVariant* options);

// How long the focused application has to ask for the text after each paste chord: a terminal
// answers its chord within milliseconds, so the first wait is short (an application that ignores
// the first chord waits that long for the second); the last wait is generous.
// Once it asked, the text stays on offer until no request came for settle (at most settleLimit).
struct PasteWaits {
    std::chrono::milliseconds firstChord{250};
    std::chrono::milliseconds lastChord{1500};
    std::chrono::milliseconds settle{200};
    std::chrono::milliseconds settleLimit{1000};
};

// The clipboard of one phone's remote desktop session: text the keymap cannot type goes to the
// focused application as a paste, and what the clipboard held before is put back.
//
// The compositor asks the session for the clipboard's content whenever someone reads it while the
// session owns it (its own clipboard keeper at once, an application when it pastes): those requests
// are answered on a thread of this object's own ("vantrel.paste", a GLib main loop on a private
// context), since the thread that pastes blocks while it waits, and the content put back must be
// served later too, as long as the session owns the clipboard. paste() is called from one thread
// (main). The session (its connection) must outlive this object.
class RemoteClipboard {
public:
    // The session's clipboard, enabled; null with the reason in error.
    [[nodiscard]] static std::unique_ptr<RemoteClipboard> open(GDBusConnection* connection, std::string sessionPath,
                                                               std::string& error);
    ~RemoteClipboard();
    RemoteClipboard(const RemoteClipboard&) = delete;
    RemoteClipboard& operator=(const RemoteClipboard&) = delete;

    // Pastes text: reads what the clipboard holds, offers text in its place, then presses the
    // paste chords one after the other (pressChord(index), index below chords) until the focused
    // application asks for the text, and puts the earlier content back. True once an application
    // has been given the text; false when none asked for it.
    bool paste(std::string_view utf8, std::size_t chords, const std::function<void(std::size_t)>& pressChord,
               PasteWaits waits = {});

private:
    RemoteClipboard(GDBusConnection* connection, std::string sessionPath);
    void run();
    // Runs work on the clipboard's thread, after what was dispatched there before.
    void post(std::function<void()> work);
    // Offers content as the clipboard's (empty: gives the clipboard up), and returns once the
    // requests the change itself caused have been answered.
    bool offer(ClipboardContent content);
    // The text another owner's clipboard holds, as content to put back; none when it holds no text
    // or it could not be read.
    [[nodiscard]] std::optional<ClipboardContent> readForeign(const std::vector<std::string>& types);
    // Runs work on the clipboard's thread and waits for it (bounded).
    bool onThread(std::function<void()> work);

    static void onSignal(GDBusConnection* connection, const gchar* sender, const gchar* path, const gchar* interface,
                         const gchar* signal, GVariant* parameters, gpointer self);
    void ownerChanged(GVariant* options);
    void transfer(const char* mimeType, std::uint32_t serial);

    GDBusConnection* connection_;
    std::string path_;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    guint subscription_ = 0;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable served_;
    ClipboardContent offered_;               // what the session serves while it owns the clipboard; guarded by mutex_
    bool sessionOwns_ = false;               // guarded by mutex_
    std::vector<std::string> foreignTypes_;  // another owner's types, empty for none; guarded by mutex_
    std::uint64_t transfers_ = 0;            // requests answered with content; guarded by mutex_
    bool keeperReads_ = true;                // the compositor's keeper reads each offer; paste() thread
};

}  // namespace vantrel::gnome
