#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Input/InputDevice.hpp"
#include "Platform/Geometry.hpp"

namespace vantrel::testing {

// What one X client saw of a key or button, with the modifier and button state the server gave it
// (the core event's state field).
struct SeenKey {
    Keycode keycode = 0;
    bool down = false;
    std::uint16_t state = 0;
    std::string text;  // what the key typed, read with the keymap the client knew at that moment
};
struct SeenButton {
    int button = 0;
    bool down = false;
    Point at;
    std::uint16_t state = 0;
};
struct SeenMotion {
    Point at;
    std::uint16_t state = 0;
};

// A test X client standing in for an application: one window over an area of the desktop, with the
// keyboard focus, that writes down every key, button and motion event it receives. Like a real
// application it reads characters with the keymap it holds, and fetches the keymap again whenever
// the server announces a change. Events are read on a thread of its own as they arrive.
class KeyRecorder {
public:
    // Null when the display cannot be opened or the window does not get the focus.
    [[nodiscard]] static std::unique_ptr<KeyRecorder> open(Rect area);
    ~KeyRecorder();
    KeyRecorder(const KeyRecorder&) = delete;
    KeyRecorder& operator=(const KeyRecorder&) = delete;

    [[nodiscard]] std::string text() const;
    [[nodiscard]] std::vector<SeenKey> keys() const;
    [[nodiscard]] std::vector<SeenButton> buttons() const;
    [[nodiscard]] std::vector<SeenMotion> motions() const;
    void clear();

    // The keys and pointer buttons the server holds down now (all devices).
    [[nodiscard]] std::vector<Keycode> keysHeld() const;
    [[nodiscard]] std::uint16_t buttonsHeld() const;
    // Keys the server's keymap leaves without any symbol now.
    [[nodiscard]] std::vector<Keycode> emptyKeys() const;

private:
    struct State;
    explicit KeyRecorder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Sets the desktop's keyboard layout with setxkbmap for as long as it lives, then the US layout again.
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
