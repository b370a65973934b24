#pragma once

#include <memory>
#include <string>

namespace vantrel::testing {

// A keyboard at the desk with a layout of the test's choosing, as far as the seat can tell: a
// virtual keyboard on a connection of its own with that layout's keymap, which taps Shift so that
// it becomes the seat's keyboard (the one whose keymap the seat hands to clients). Headless sway
// has no keyboard, and it does not give virtual keyboards the layout of its configuration.
class DeskKeyboard {
public:
    // Connects to WAYLAND_DISPLAY and, unless told not to, taps Shift once. Check ok().
    explicit DeskKeyboard(const std::string& layout, bool tapOnce = true);
    ~DeskKeyboard();
    DeskKeyboard(const DeskKeyboard&) = delete;
    DeskKeyboard& operator=(const DeskKeyboard&) = delete;

    [[nodiscard]] bool ok() const;
    // Taps Shift again, as someone typing at the desk would: the seat hands out this keymap again.
    bool tap();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vantrel::testing
