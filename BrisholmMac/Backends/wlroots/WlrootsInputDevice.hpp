#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Input/InputDevice.hpp"

namespace vantrel {

// The desktop's pointer and keyboard on a wlroots compositor: a virtual pointer (absolute motion
// over the whole output layout, buttons, wheel clicks) and a virtual keyboard that types with the
// seat's own keymap, so the phone's keys give the desk's layout. Characters that keymap lacks go
// onto its empty keys in a keymap of our own, uploaded before the key that types them.
//
// The keymap is read from the seat when the device opens (the keymap of the keyboard that typed
// last). A headless compositor may have no keyboard at all; the device then types with
// xkbcommon's default layout (XKB_DEFAULT_LAYOUT, else "us") and says so in the log. Once our own
// keyboard has typed, the seat hands every client our keymap; those uploads carry our mark and never
// pass for the desk's. When the desk's keymap changes (someone typed at the desk after a new
// layout was chosen), the next key goes in with it.
//
// Wayland tells no client where the pointer is: pointerLocation() is where this device put it.
//
// The device has a connection to the compositor of its own: the backend's shared connection is
// opened anew after a break, and the proxies of a closed connection could not be destroyed safely.
// Lives on the main thread (the injector's). Open it there and use it only there.
class WlrootsInputDevice final : public InputDevice {
public:
    // Null when the compositor does not answer or lacks a seat, the virtual pointer or the virtual
    // keyboard, or no keymap compiles (the reason is logged). displayName: WAYLAND_DISPLAY when none.
    [[nodiscard]] static std::shared_ptr<WlrootsInputDevice> open(const std::optional<std::string>& displayName = {});

    // Releases whatever this device still holds down before its keyboard and pointer go.
    ~WlrootsInputDevice() override;
    WlrootsInputDevice(const WlrootsInputDevice&) = delete;
    WlrootsInputDevice& operator=(const WlrootsInputDevice&) = delete;

    [[nodiscard]] std::optional<Point> pointerLocation() override;
    void movePointer(Point to) override;
    void pressButton(int button, bool down) override;
    void pressKey(Keycode keycode, bool down) override;
    [[nodiscard]] std::optional<Keycode> keycodeForKeyName(std::string_view name) override;
    [[nodiscard]] std::optional<Keycode> modifierKeycode(ModifierKey key) override;
    [[nodiscard]] std::optional<KeyStroke> strokeForCharacter(char32_t character) override;
    [[nodiscard]] std::vector<Keycode> spareKeycodes() override;
    bool bindKeycode(Keycode keycode, std::optional<char32_t> character) override;
    bool syncWithFocusedClient() override;
    // Each binding hands applications a whole keymap: one per piece of text is far cheaper.
    [[nodiscard]] bool bindsAhead() const override { return true; }
    [[nodiscard]] std::uint64_t keymapGeneration() override;
    void flush() override;

private:
    struct State;
    explicit WlrootsInputDevice(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace vantrel
