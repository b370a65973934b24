#pragma once

#include <memory>

#include "Input/InputDevice.hpp"

namespace vantrel {

namespace x11 {
class X11Connection;
}

// The desktop's pointer and keyboard through XTest, on the backend's shared connection. The
// keymap is read with XKB (xkbcommon) and read again whenever the desktop changes it (a new
// layout); characters go in through the keymap as it is. The keymap's news and the answers to its
// pings reach it through the connection's events, so the other users of the connection keep
// theirs.
//
// Lives on the main thread (the injector's). Open it there and use it only there.
class X11InputDevice final : public InputDevice {
public:
    // Null when the connection is missing or broken, or the display lacks XTest or XKB, or the
    // keymap cannot be read (the reason is logged).
    [[nodiscard]] static std::shared_ptr<X11InputDevice> open(std::shared_ptr<x11::X11Connection> connection);

    ~X11InputDevice() override;
    X11InputDevice(const X11InputDevice&) = delete;
    X11InputDevice& operator=(const X11InputDevice&) = delete;

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
    [[nodiscard]] std::uint64_t keymapGeneration() override;
    void flush() override;

private:
    struct State;
    explicit X11InputDevice(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace vantrel
