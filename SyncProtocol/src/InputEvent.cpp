#include "vantrel/InputEvent.hpp"

#include <array>
#include <charconv>

#include "JsonCodec.hpp"

namespace vantrel {

std::string_view rawValue(MouseButton button) {
    switch (button) {
        case MouseButton::left: return "left";
        case MouseButton::right: return "right";
        case MouseButton::middle: return "middle";
    }
    return "left";
}

std::optional<MouseButton> mouseButtonFromString(std::string_view raw) {
    for (const MouseButton button : {MouseButton::left, MouseButton::right, MouseButton::middle}) {
        if (raw == rawValue(button)) {
            return button;
        }
    }
    return std::nullopt;
}

Modifiers::Modifiers(std::initializer_list<Modifiers> members) {
    for (const Modifiers member : members) {
        rawValue_ |= member.rawValue_;
    }
}

namespace {

// The case names in the order of InputEvent's alternatives.
constexpr std::array<const char*, std::variant_size_v<InputEvent>> caseNames = {
    "pointerMove", "pointerMoveAbsolute", "button", "scroll", "key", "text"};

std::string formatNumber(double value) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

}  // namespace

std::string describe(const InputEvent& event) {
    using namespace input;
    struct Renderer {
        std::string operator()(const PointerMove& e) const {
            return std::string("pointerMove dx=") + formatNumber(e.dx) + " dy=" + formatNumber(e.dy);
        }
        std::string operator()(const PointerMoveAbsolute& e) const {
            return std::string("pointerMoveAbsolute x=") + formatNumber(e.x) + " y=" + formatNumber(e.y);
        }
        std::string operator()(const Button& e) const {
            return std::string("button ") + std::string(rawValue(e.button)) + (e.down ? " down" : " up");
        }
        std::string operator()(const Scroll& e) const {
            return std::string("scroll dx=") + formatNumber(e.dx) + " dy=" + formatNumber(e.dy);
        }
        std::string operator()(const Key& e) const {
            return std::string("key code=") + std::to_string(e.code) + (e.down ? " down" : " up") +
                   " modifiers=" + std::to_string(e.modifiers.rawValue());
        }
        std::string operator()(const Text& e) const {
            // As a JSON string: a line break or control character typed on the phone must not
            // split or garble the one log line this ends up in.
            return "text " + json::Json(e.text).dump(-1, ' ', false, json::Json::error_handler_t::replace);
        }
    };
    return std::visit(Renderer{}, event);
}

namespace json {
namespace {

InputEvent readCase(std::size_t index, ObjectReader& reader) {
    using namespace input;
    switch (index) {
        case 0: return PointerMove{reader.number("dx"), reader.number("dy")};
        case 1: return PointerMoveAbsolute{reader.number("x"), reader.number("y")};
        case 2: {
            const std::string raw = reader.string("button");
            const bool down = reader.boolean("down");
            const auto button = mouseButtonFromString(raw);
            if (reader.ok() && !button) {
                reader.fail("key \"button\": expected \"left\", \"right\" or \"middle\"");
            }
            return Button{button.value_or(MouseButton::left), down};
        }
        case 3: return Scroll{reader.number("dx"), reader.number("dy")};
        case 4:
            return Key{reader.integer<std::uint16_t>("code"), reader.boolean("down"),
                       Modifiers(reader.integer<std::uint8_t>("modifiers"))};
        default: return Text{reader.string("_0")};
    }
}

}  // namespace

InputEventDecodeResult decodeInputEvent(const Json& value) {
    if (!value.is_object()) {
        return {std::nullopt, "expected a JSON object"};
    }
    // Only the case names count; other keys beside them are ignored.
    std::size_t found = caseNames.size();
    std::size_t count = 0;
    for (std::size_t i = 0; i < caseNames.size(); ++i) {
        if (value.contains(caseNames[i])) {
            found = i;
            ++count;
        }
    }
    if (count != 1) {
        return {std::nullopt, std::string(invalidKeyCountMessage)};
    }
    ObjectReader reader(value.at(caseNames[found]));
    InputEvent event = readCase(found, reader);
    if (!reader.ok()) {
        return {std::nullopt, std::string(caseNames[found]) + ": " + reader.error()};
    }
    return {std::move(event), {}};
}

std::optional<InputEvent> fromJson(const Json& value, Tag<InputEvent>) {
    return decodeInputEvent(value).event;
}

std::optional<Json> toJson(const InputEvent& event) {
    using namespace input;
    struct Writer {
        Json operator()(const PointerMove& e) const { return {{"dx", e.dx}, {"dy", e.dy}}; }
        Json operator()(const PointerMoveAbsolute& e) const { return {{"x", e.x}, {"y", e.y}}; }
        Json operator()(const Button& e) const {
            return {{"button", std::string(rawValue(e.button))}, {"down", e.down}};
        }
        Json operator()(const Scroll& e) const { return {{"dx", e.dx}, {"dy", e.dy}}; }
        Json operator()(const Key& e) const {
            return {{"code", e.code}, {"down", e.down}, {"modifiers", e.modifiers.rawValue()}};
        }
        Json operator()(const Text& e) const { return {{"_0", e.text}}; }
    };
    Json out = Json::object();
    out[caseNames[event.index()]] = std::visit(Writer{}, event);
    return out;
}

}  // namespace json

InputEventDecodeResult decodeInputEvent(ByteView body) {
    try {
        auto value = json::parse(body);
        if (!value) {
            return {std::nullopt, "not valid JSON"};
        }
        return json::decodeInputEvent(*value);
    } catch (const json::Json::exception& error) {
        return {std::nullopt, error.what()};
    } catch (const std::bad_alloc&) {
        return {std::nullopt, "out of memory"};
    }
}

}  // namespace vantrel
