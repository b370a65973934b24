#include "Input/KeyPositions.hpp"

#include <algorithm>
#include <array>

namespace vantrel {

namespace {

using enum ModifierKey;

constexpr KeyPosition at(std::uint16_t code, std::string_view keyName, std::optional<ModifierKey> modifier = {}) {
    return {code, keyName, modifier};
}

// The phone's key codes are the virtual key codes of the protocol's original platform: the ANSI,
// ISO and JIS key codes of its HIToolbox Events.h ("kVK_ANSI_A" = 0x00 ...). They name where a key
// sits, not what it types: the desktop's own layout decides the character, so the code of the "Z"
// place types "y" on a German layout, as it would on the phone's home platform.
//
// On the right: the XKB name of the key at that place (xkeyboard-config's keycodes/evdev).
// Choices where the places differ between the keyboards:
//   - 0x0A (ISO section) is the extra ISO key beside the left Shift (LSGT), and 0x32 (grave) the
//     key left of "1" (TLDE), as on an ANSI keyboard, the layout a phone client types for.
//   - Help (0x72) sits where Insert sits on a PC keyboard.
//   - The JIS Eisu and Kana keys beside the space bar are the Muhenkan and Henkan keys.
//   - Function (0x3F) has no key on a PC keyboard, and keypad Clear (0x47) sits where Num Lock
//     does: sending Num Lock would turn the keypad's digits into cursor keys, so neither is here.
constexpr std::array table{
    at(0x00, "AC01"),  // A
    at(0x01, "AC02"),  // S
    at(0x02, "AC03"),  // D
    at(0x03, "AC04"),  // F
    at(0x04, "AC06"),  // H
    at(0x05, "AC05"),  // G
    at(0x06, "AB01"),  // Z
    at(0x07, "AB02"),  // X
    at(0x08, "AB03"),  // C
    at(0x09, "AB04"),  // V
    at(0x0A, "LSGT"),  // ISO section
    at(0x0B, "AB05"),  // B
    at(0x0C, "AD01"),  // Q
    at(0x0D, "AD02"),  // W
    at(0x0E, "AD03"),  // E
    at(0x0F, "AD04"),  // R
    at(0x10, "AD06"),  // Y
    at(0x11, "AD05"),  // T
    at(0x12, "AE01"),  // 1
    at(0x13, "AE02"),  // 2
    at(0x14, "AE03"),  // 3
    at(0x15, "AE04"),  // 4
    at(0x16, "AE06"),  // 6
    at(0x17, "AE05"),  // 5
    at(0x18, "AE12"),  // =
    at(0x19, "AE09"),  // 9
    at(0x1A, "AE07"),  // 7
    at(0x1B, "AE11"),  // -
    at(0x1C, "AE08"),  // 8
    at(0x1D, "AE10"),  // 0
    at(0x1E, "AD12"),  // ]
    at(0x1F, "AD09"),  // O
    at(0x20, "AD07"),  // U
    at(0x21, "AD11"),  // [
    at(0x22, "AD08"),  // I
    at(0x23, "AD10"),  // P
    at(0x24, "RTRN"),  // Return
    at(0x25, "AC09"),  // L
    at(0x26, "AC07"),  // J
    at(0x27, "AC11"),  // '
    at(0x28, "AC08"),  // K
    at(0x29, "AC10"),  // ;
    at(0x2A, "BKSL"),  // backslash
    at(0x2B, "AB08"),  // ,
    at(0x2C, "AB10"),  // /
    at(0x2D, "AB06"),  // N
    at(0x2E, "AB07"),  // M
    at(0x2F, "AB09"),  // .
    at(0x30, "TAB"),   // Tab
    at(0x31, "SPCE"),  // Space
    at(0x32, "TLDE"),  // `
    at(0x33, "BKSP"),  // Delete (backwards)
    at(0x35, "ESC"),   // Escape
    at(0x36, "RWIN", super),
    at(0x37, "LWIN", super),  // Command
    at(0x38, "LFSH", shift),
    at(0x39, "CAPS"),
    at(0x3A, "LALT", alt),  // Option
    at(0x3B, "LCTL", control),
    at(0x3C, "RTSH", shift),
    at(0x3D, "RALT", alt),  // right Option: AltGr on layouts that have one
    at(0x3E, "RCTL", control),
    at(0x40, "FK17"),
    at(0x41, "KPDL"),  // keypad .
    at(0x43, "KPMU"),  // keypad *
    at(0x45, "KPAD"),  // keypad +
    at(0x48, "VOL+"),
    at(0x49, "VOL-"),
    at(0x4A, "MUTE"),
    at(0x4B, "KPDV"),  // keypad /
    at(0x4C, "KPEN"),  // keypad Enter
    at(0x4E, "KPSU"),  // keypad -
    at(0x4F, "FK18"),
    at(0x50, "FK19"),
    at(0x51, "KPEQ"),  // keypad =
    at(0x52, "KP0"),
    at(0x53, "KP1"),
    at(0x54, "KP2"),
    at(0x55, "KP3"),
    at(0x56, "KP4"),
    at(0x57, "KP5"),
    at(0x58, "KP6"),
    at(0x59, "KP7"),
    at(0x5A, "FK20"),
    at(0x5B, "KP8"),
    at(0x5C, "KP9"),
    at(0x5D, "AE13"),  // JIS Yen
    at(0x5E, "AB11"),  // JIS underscore
    at(0x5F, "JPCM"),  // JIS keypad comma
    at(0x60, "FK05"),
    at(0x61, "FK06"),
    at(0x62, "FK07"),
    at(0x63, "FK03"),
    at(0x64, "FK08"),
    at(0x65, "FK09"),
    at(0x66, "MUHE"),  // JIS Eisu
    at(0x67, "FK11"),
    at(0x68, "HENK"),  // JIS Kana
    at(0x69, "FK13"),
    at(0x6A, "FK16"),
    at(0x6B, "FK14"),
    at(0x6D, "FK10"),
    at(0x6E, "MENU"),  // contextual menu
    at(0x6F, "FK12"),
    at(0x71, "FK15"),
    at(0x72, "INS"),  // Help
    at(0x73, "HOME"),
    at(0x74, "PGUP"),
    at(0x75, "DELE"),  // forward delete
    at(0x76, "FK04"),
    at(0x77, "END"),
    at(0x78, "FK02"),
    at(0x79, "PGDN"),
    at(0x7A, "FK01"),
    at(0x7B, "LEFT"),
    at(0x7C, "RGHT"),
    at(0x7D, "DOWN"),
    at(0x7E, "UP"),
};

static_assert(std::ranges::is_sorted(table, {}, &KeyPosition::code), "lookups halve the table");

}  // namespace

std::span<const KeyPosition> keyPositions() {
    return table;
}

std::optional<KeyPosition> keyPosition(std::uint16_t code) {
    const auto* found = std::ranges::lower_bound(table, code, {}, &KeyPosition::code);
    if (found == table.end() || found->code != code) {
        return std::nullopt;
    }
    return *found;
}

}  // namespace vantrel
