#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "Input/InputDevice.hpp"

namespace vantrel {

// One key of the phone's keyboard protocol: its virtual key code, the physical key at the same
// place on a PC keyboard (its XKB name), and the modifier it holds when it is a modifier key.
struct KeyPosition {
    std::uint16_t code = 0;
    std::string_view keyName;
    std::optional<ModifierKey> modifier;
};

// Every key code the phone may send that has a place on a PC keyboard, in code order.
[[nodiscard]] std::span<const KeyPosition> keyPositions();

// The entry for code; none for codes without a place here (the function key, keypad Clear, codes
// no keyboard sends).
[[nodiscard]] std::optional<KeyPosition> keyPosition(std::uint16_t code);

}  // namespace vantrel
