#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "Geometry/Geometry.hpp"

namespace vantrel {

// A key of the desktop's keyboard as the display server numbers it (X: 8 to 255).
using Keycode = std::uint32_t;

// The modifier keys the phone can ask for. The phone's command key is Super here and its option
// key is Alt.
enum class ModifierKey { shift, control, alt, super };

// How the live keymap types one character: the key, and the modifier keys to hold around it (in
// press order) so that it gives that character at the keyboard's current group and locks.
struct KeyStroke {
    Keycode keycode = 0;
    std::vector<Keycode> modifiers;

    bool operator==(const KeyStroke&) const = default;
};

// Pointer buttons by their X numbers: the three real buttons, then the wheel, where one press and
// release is one click of the wheel.
namespace pointerButton {
inline constexpr int left = 1;
inline constexpr int middle = 2;
inline constexpr int right = 3;
inline constexpr int wheelUp = 4;
inline constexpr int wheelDown = 5;
inline constexpr int wheelLeft = 6;
inline constexpr int wheelRight = 7;
}  // namespace pointerButton

// The small pointer and keyboard surface the injector drives. The X11 implementation posts
// through XTest; tests use a recording fake, so every rule above it runs without a display.
//
// Nothing here reports failure upwards except where the caller has a choice to make: a request
// the server refuses leaves a reason in the diagnostic log.
class InputDevice {
public:
    virtual ~InputDevice() = default;

    // Where the pointer is, in desktop points; none when it cannot be read.
    [[nodiscard]] virtual std::optional<Point> pointerLocation() = 0;
    // Puts the pointer at a desktop point (the caller confines it).
    virtual void movePointer(Point to) = 0;
    virtual void pressButton(int button, bool down) = 0;
    virtual void pressKey(Keycode keycode, bool down) = 0;

    // The key at a physical position named as XKB names it ("AC01" is the key right of Caps Lock),
    // none when this keyboard has no such key.
    [[nodiscard]] virtual std::optional<Keycode> keycodeForKeyName(std::string_view name) = 0;
    // A key that holds the given modifier, none when the keymap has none.
    [[nodiscard]] virtual std::optional<Keycode> modifierKeycode(ModifierKey key) = 0;
    // How to type a Unicode character with the keymap as it is now (any level of the active group),
    // none when it has no key for it.
    [[nodiscard]] virtual std::optional<KeyStroke> strokeForCharacter(char32_t character) = 0;

    // Keys the keymap leaves empty, free to carry characters it lacks.
    [[nodiscard]] virtual std::vector<Keycode> spareKeycodes() = 0;
    // Puts character on keycode (none: empties it again), and returns once the server has announced
    // the new mapping to its clients, so that a key press sent afterwards is read with it. False
    // when the change failed.
    virtual bool bindKeycode(Keycode keycode, std::optional<char32_t> character) = 0;
    // Waits until the application with the keyboard focus has read every event sent before (it
    // answers the window manager's ping), so that a key it has not read yet is not rebound under it.
    // False when it does not answer pings, or not in time.
    virtual bool syncWithFocusedClient() = 0;
    // Whether the keys a piece of text borrows are to be bound before any of it is typed: true where
    // each binding hands applications a whole new keymap (Wayland: one keymap per piece instead of
    // one per character), false where an application reads a changed key only when it gets to a
    // key press on it (X11), so each character is typed right after its key is bound.
    [[nodiscard]] virtual bool bindsAhead() const { return false; }
    // Whether the device can put text the keymap lacks into the focused application in one piece
    // (pasteText). The injector then hands it runs of such characters instead of lending them keys:
    // where the keymap cannot be changed (GNOME on Wayland) there are no keys to lend.
    [[nodiscard]] virtual bool pastesText() const { return false; }
    // Puts text (UTF-8) into the focused application after every key sent before it, and returns
    // once the application has taken it, so that no key sent afterwards overtakes it. False when no
    // application took it; the injector then tries the keymap's spare keys.
    virtual bool pasteText(std::string_view /*utf8*/) { return false; }
    // Counts replacements of the keymap by others (a new layout chosen on the desktop). Bindings made
    // with bindKeycode do not survive such a replacement.
    [[nodiscard]] virtual std::uint64_t keymapGeneration() = 0;

    // Sends what has been queued.
    virtual void flush() = 0;

    // Everything the injector held is let go and the phone that used it has left (or another takes
    // its place): a device that keeps a session of the display server's per phone may end it now.
    // The next event opens a new one.
    virtual void sessionOver() {}
};

}  // namespace vantrel
