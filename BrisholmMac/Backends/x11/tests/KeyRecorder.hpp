#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Input/InputDevice.hpp"

namespace vantrel::testing {

// One key, button or motion event as an application received it.
struct Seen {
    std::uint8_t type = 0;    // XCB_KEY_PRESS, XCB_BUTTON_RELEASE, XCB_MOTION_NOTIFY ...
    std::uint8_t detail = 0;  // the keycode or button
    Point at;                 // the pointer on the root window
    std::uint16_t state = 0;  // modifiers and buttons held, as the server reports them
    std::string text;         // what a key press typed with the keymap the client knew then
};

// A test X client standing in for an application: one window over an area of the desktop with the
// keyboard focus, recording every key, button and motion event on a thread of its own. Like a
// toolkit it reads the whole keymap again when the server announces a change, and it answers the
// window manager's ping.
class KeyRecorder {
public:
    // Null when the display cannot be opened or the window does not get the focus.
    [[nodiscard]] static std::unique_ptr<KeyRecorder> open(Rect area);
    ~KeyRecorder();
    KeyRecorder(const KeyRecorder&) = delete;
    KeyRecorder& operator=(const KeyRecorder&) = delete;

    [[nodiscard]] std::vector<Seen> seen(std::uint8_t type) const;
    [[nodiscard]] std::string text() const;
    void clear();

    // What the server holds down now, from any device: keys, and the pointer buttons' mask.
    [[nodiscard]] std::vector<Keycode> keysHeld() const;
    [[nodiscard]] std::uint16_t buttonsHeld() const;

private:
    struct State;
    explicit KeyRecorder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// The desktop's keyboard layout set with setxkbmap while it lives, then US again.
class LayoutGuard {
public:
    explicit LayoutGuard(const std::string& layout);
    ~LayoutGuard();
    LayoutGuard(const LayoutGuard&) = delete;
    LayoutGuard& operator=(const LayoutGuard&) = delete;
    [[nodiscard]] bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace vantrel::testing
