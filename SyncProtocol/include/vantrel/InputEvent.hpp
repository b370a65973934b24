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

    [[nodiscard]] constexpr Modifiers unionWith(Modifiers other) const { return bits(rawValue_ | other.rawValue_); }
    [[nodiscard]] constexpr Modifiers intersection(Modifiers other) const { return bits(rawValue_ & other.rawValue_); }
    [[nodiscard]] constexpr Modifiers symmetricDifference(Modifiers other) const {
        return bits(rawValue_ ^ other.rawValue_);
    }
    [[nodiscard]] constexpr Modifiers subtracting(Modifiers other) const { return bits(rawValue_ & ~other.rawValue_); }
    constexpr void insert(Modifiers member) { rawValue_ = unionWith(member).rawValue_; }
    constexpr void remove(Modifiers member) { rawValue_ = subtracting(member).rawValue_; }
    constexpr void formUnion(Modifiers other) { insert(other); }  // update
    // Every bit of member is set (true for the empty set).
    [[nodiscard]] constexpr bool contains(Modifiers member) const { return member.isSubset(*this); }
    [[nodiscard]] constexpr bool isSubset(Modifiers of) const { return (rawValue_ & ~of.rawValue_) == 0; }
    [[nodiscard]] constexpr bool isDisjoint(Modifiers with) const { return (rawValue_ & with.rawValue_) == 0; }
    [[nodiscard]] constexpr bool isEmpty() const { return rawValue_ == 0; }

    bool operator==(const Modifiers&) const = default;

private:
    static constexpr Modifiers bits(int raw) { return Modifiers(static_cast<std::uint8_t>(raw)); }

    std::uint8_t rawValue_ = 0;
};

inline constexpr Modifiers Modifiers::shift{std::uint8_t{1}};
inline constexpr Modifiers Modifiers::control{std::uint8_t{2}};
inline constexpr Modifiers Modifiers::option{std::uint8_t{4}};
inline constexpr Modifiers Modifiers::command{std::uint8_t{8}};

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
