#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Backends/gnome/RemoteSession.hpp"
#include "Input/InputDevice.hpp"
#include "Input/XkbKeymap.hpp"

namespace vantrel::gnome {

// An XKB layout as GNOME's input sources name it ("de", "us+intl" is layout us, variant intl).
struct XkbLayout {
    std::string layout;
    std::string variant;

    bool operator==(const XkbLayout&) const = default;
};

// An input source of org.gnome.desktop.input-sources: its type ("xkb", "ibus") and id.
struct InputSource {
    std::string type;
    std::string id;
};

// The layout GNOME types with: the most recently used XKB source (the shell keeps the one in use
// first), else the first XKB source configured; none when no XKB source is set (the compositor
// then uses the XKB defaults). Input methods (ibus) carry no layout of their own and are skipped.
[[nodiscard]] std::optional<XkbLayout> activeLayout(const std::vector<InputSource>& mostRecentlyUsed,
                                                    const std::vector<InputSource>& configured);

// The first layout of the system keyboard's lists as systemd-localed keeps them (X11Layout "de,us",
// X11Variant ",intl"); none when no layout is set.
[[nodiscard]] std::optional<XkbLayout> systemLayout(const std::string& layouts, const std::string& variants);

// What a pointer button of the injector becomes on GNOME's remote desktop: a button press with
// its evdev number, or for a wheel click (buttons 4 to 7) one discrete step on an axis (0
// vertical, 1 horizontal; positive down or right). None for buttons it has no use for.
struct PointerAction {
    bool wheel = false;
    std::int32_t evdevButton = 0;  // without wheel
    std::uint32_t axis = 0;        // with wheel
    std::int32_t steps = 0;

    bool operator==(const PointerAction&) const = default;
};
[[nodiscard]] std::optional<PointerAction> pointerAction(int button);

// The chords that make the focused application paste the clipboard, in the order they are tried:
// Ctrl+Shift+V, which terminals take (Ctrl+V types a control character there) and GTK's text
// fields ignore, then Shift+Insert, which GTK and Qt fields, browsers and editors take. V is the key
// that types v in the keymap, else the one in V's place; a chord whose keys the keymap lacks is
// left out.
[[nodiscard]] std::vector<KeyStroke> pasteChords(const XkbKeymap& keymap);

// The synthetic pointer and keyboard of a GNOME session: events go into the phone's remote
// desktop session (the one its capturer records into, from broker), keys as evdev numbers of the
// layout GNOME types with, read by xkbcommon: the input sources in GNOME's settings, else the
// system's keyboard as localed keeps it (what the compositor types with when its shell sets
// nothing), else the XKB defaults. The keymap cannot be changed from here, so there are no spare keys: runs of
// characters the layout lacks are pasted through the session's clipboard (RemoteClipboard), which gets its earlier
// content back afterwards. Null when no keymap can be compiled.
//
// Lives on the main thread.
[[nodiscard]] std::shared_ptr<InputDevice> openGnomeInputDevice(std::shared_ptr<SessionBroker> broker);

}  // namespace vantrel::gnome
