#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Geometry/Geometry.hpp"
#include "Input/InputDevice.hpp"

// The pure rules of the wlroots input device: the keymap text it gives its virtual keyboard, and how
// the injector's X-numbered keys and buttons become the evdev codes and axis steps the virtual
// keyboard and pointer take. Plain values in, plain values out.
namespace vantrel::wayland {

// The name our keymaps carry in their key-code section. The seat hands every client the keymap of
// the keyboard that typed last, ours included; a keymap with this name is one of our own uploads,
// never the desk's.
inline constexpr std::string_view ourKeymapName = "vantrel-phone";

// Whether keymap text (its first lines suffice) is one this host uploaded.
[[nodiscard]] bool isOurKeymap(std::string_view keymapStart);

// The keymap the virtual keyboard types with: the desk's keymap (deskText, compiled as desk) with
// each of bindings' keycodes carrying its keysym on every level, marked as ours. Keycodes the desk's
// keymap names keep their name; an unnamed one gets a name of its own. None when deskText is not in
// the text form xkbcommon writes.
[[nodiscard]] std::optional<std::string> typingKeymap(std::string_view deskText, xkb_keymap* desk,
                                                      const std::map<Keycode, xkb_keysym_t>& bindings);

// The Linux input code of an XKB keycode (XKB counts from 8, the kernel from 0); none below 8.
[[nodiscard]] std::optional<std::uint32_t> evdevKeycode(Keycode keycode);

// The Linux button code of a pointer button by its X number (1 left, 2 middle, 3 right); none for
// the wheel (4 to 7) and unknown numbers.
[[nodiscard]] std::optional<std::uint32_t> evdevButton(int button);

// One click of the wheel, as wl_pointer counts it: the axis (0 vertical, 1 horizontal), one discrete
// step in the direction (negative: up or left), and the scroll amount a real wheel sends with it.
struct WheelStep {
    std::uint32_t axis = 0;
    std::int32_t discrete = 0;
    double value = 0;

    bool operator==(const WheelStep&) const = default;
};
// The wheel click an X wheel button (4 up, 5 down, 6 left, 7 right) stands for; none for others.
[[nodiscard]] std::optional<WheelStep> wheelStep(int button);

// An absolute pointer position as the virtual pointer takes it: a point in a box of extent, both in
// whole desktop points counted from the output layout's top-left corner.
struct AbsoluteMotion {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t xExtent = 0;
    std::uint32_t yExtent = 0;

    bool operator==(const AbsoluteMotion&) const = default;
};
// The box around all outputs (the compositor spreads absolute motion over it); none without
// outputs.
[[nodiscard]] std::optional<Rect> layoutBox(const std::vector<Rect>& outputs);
// Where a desktop point lies in the layout's box, kept inside it; none for an empty box.
[[nodiscard]] std::optional<AbsoluteMotion> absoluteMotion(Point to, const Rect& box);

}  // namespace vantrel::wayland
