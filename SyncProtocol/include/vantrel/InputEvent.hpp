#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "vantrel/Bytes.hpp"

namespace vantrel {

enum class MouseButton { left, right, middle };

// "left", "right", "middle".
[[nodiscard]] std::string_view rawValue(MouseButton button);
// Exact, case-sensitive: "Left" is not a button.
[[nodiscard]] std::optional<MouseButton> mouseButtonFromString(std::string_view raw);

// A set of modifier keys in one byte. Bits 4 to 7 have no name; they survive encoding and
// decoding and the host ignores them.
class Modifiers {
public:
    static const Modifiers shift;    // bit 0
    static const Modifiers control;  // bit 1
    static const Modifiers option;   // bit 2
    static const Modifiers command;  // bit 3

    constexpr Modifiers() = default;
    constexpr explicit Modifiers(std::uint8_t raw) : rawValue_(raw) {}
    Modifiers(std::initializer_list<Modifiers> members);  // their union; {} gives 0

    [[nodiscard]] constexpr std::uint8_t rawValue() const { return rawValue_; }

    [[nodiscard]] Modifiers unionWith(Modifiers other) const;
    [[nodiscard]] Modifiers intersection(Modifiers other) const;
    [[nodiscard]] Modifiers symmetricDifference(Modifiers other) const;
    [[nodiscard]] Modifiers subtracting(Modifiers other) const;
    void insert(Modifiers member);
    void remove(Modifiers member);
    void formUnion(Modifiers other);  // update
    [[nodiscard]] bool contains(Modifiers member) const;
    [[nodiscard]] bool isSubset(Modifiers of) const;
    [[nodiscard]] bool isDisjoint(Modifiers with) const;
    [[nodiscard]] bool isEmpty() const;

    bool operator==(const Modifiers&) const = default;

private:
    std::uint8_t rawValue_ = 0;
};

// The six kinds of remote input, in the protocol's order. The JSON form is an object with exactly
// one known key, the case name, holding the case's fields (text under "_0").
namespace input {
struct PointerMove {
    double dx = 0;
    double dy = 0;
};
struct PointerMoveAbsolute {  // fractions of the active display, clamped to 0...1 by the host
    double x = 0;
    double y = 0;
};
struct Button {
    MouseButton button = MouseButton::left;
    bool down = false;
};
struct Scroll {  // pixels; fractions accumulate on the host
    double dx = 0;
    double dy = 0;
};
struct Key {  // the phone's virtual key code; the event carries exactly these modifiers
    std::uint16_t code = 0;
    bool down = false;
    Modifiers modifiers;
};
struct Text {
    std::string text;
};
}  // namespace input

using InputEvent =
    std::variant<input::PointerMove, input::PointerMoveAbsolute, input::Button, input::Scroll, input::Key, input::Text>;

// The type-mismatch text of a body with no known case name or with more than one.
inline constexpr std::string_view invalidKeyCountMessage = "Invalid number of keys found, expected one.";

// Decodes an input body, and says why when it cannot (for callers that log the reason).
// JSONMessage::decode<InputEvent> gives the same result without the reason.
struct InputEventDecodeResult {
    std::optional<InputEvent> event;
    std::string error;  // empty on success
};
[[nodiscard]] InputEventDecodeResult decodeInputEvent(ByteView body);

// A readable one-line rendering naming the kind and its field values, for logs.
[[nodiscard]] std::string describe(const InputEvent& event);

}  // namespace vantrel
