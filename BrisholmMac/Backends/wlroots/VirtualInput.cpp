#include "Backends/wlroots/VirtualInput.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace vantrel::wayland {

namespace {

// The Linux input codes of the pointer's buttons (linux/input-event-codes.h).
constexpr std::uint32_t btnLeft = 0x110;
constexpr std::uint32_t btnRight = 0x111;
constexpr std::uint32_t btnMiddle = 0x112;

// The scroll amount a mouse wheel's click carries (libinput counts 15 degrees a click, and
// compositors pass that on); clients that scroll by amount scroll as for a real wheel.
constexpr double wheelClickAmount = 15;

constexpr std::uint32_t verticalAxis = 0;    // WL_POINTER_AXIS_VERTICAL_SCROLL
constexpr std::uint32_t horizontalAxis = 1;  // WL_POINTER_AXIS_HORIZONTAL_SCROLL

// The part of keymap text between "keyword" and the line that closes its section ("\n};"): the
// header's end (just after its "{") and the closing line's start. None when the text lacks it.
struct Section {
    std::size_t bodyStart = 0;
    std::size_t closing = 0;
};
std::optional<Section> findSection(std::string_view text, std::string_view keyword) {
    const auto header = text.find(keyword);
    if (header == std::string_view::npos) {
        return std::nullopt;
    }
    const auto brace = text.find('{', header);
    if (brace == std::string_view::npos) {
        return std::nullopt;
    }
    const auto closing = text.find("\n};", brace);
    if (closing == std::string_view::npos) {
        return std::nullopt;
    }
    return Section{brace + 1, closing};
}

std::string keyName(xkb_keymap* desk, Keycode keycode) {
    if (const char* name = xkb_keymap_key_get_name(desk, keycode)) {
        return name;
    }
    // A name no key of the keymap has: the prefixes are tried until one is free.
    for (const char prefix : {'V', 'W', 'Y', 'Z'}) {
        std::string candidate = prefix + std::to_string(keycode);
        if (xkb_keymap_key_by_name(desk, candidate.c_str()) == XKB_KEYCODE_INVALID) {
            return candidate;
        }
    }
    return "VNT" + std::to_string(keycode);
}

}  // namespace

bool isOurKeymap(std::string_view keymapStart) {
    const auto section = keymapStart.find("xkb_keycodes");
    if (section == std::string_view::npos) {
        return false;
    }
    const auto name = keymapStart.find('"', section);
    const auto brace = keymapStart.find('{', section);
    return name != std::string_view::npos && name < brace &&
           keymapStart.substr(name + 1, ourKeymapName.size()) == ourKeymapName &&
           keymapStart.substr(name + 1 + ourKeymapName.size(), 1) == "\"";
}

std::optional<std::string> typingKeymap(std::string_view deskText, xkb_keymap* desk,
                                        const std::map<Keycode, xkb_keysym_t>& bindings) {
    const auto keycodes = findSection(deskText, "xkb_keycodes");
    const auto symbols = findSection(deskText, "xkb_symbols");
    if (!keycodes || !symbols || symbols->bodyStart < keycodes->closing) {
        return std::nullopt;
    }
    std::string newNames;
    std::string newSymbols;
    for (const auto& [keycode, keysym] : bindings) {
        const std::string name = keyName(desk, keycode);
        if (xkb_keymap_key_get_name(desk, keycode) == nullptr) {
            newNames += "\n\t<" + name + "> = " + std::to_string(keycode) + ";";
        }
        std::array<char, 64> symbolName{};
        if (xkb_keysym_get_name(keysym, symbolName.data(), symbolName.size()) <= 0) {
            continue;
        }
        // One level: Shift or Caps Lock held at the desk's keyboard cannot change the character.
        newSymbols += "\n\toverride key <" + name + "> { [ " + std::string(symbolName.data()) + " ] };";
    }

    const auto keycodesHeader = deskText.rfind("xkb_keycodes", keycodes->bodyStart);
    std::string text;
    text.reserve(deskText.size() + newNames.size() + newSymbols.size() + 64);
    text += deskText.substr(0, keycodesHeader);
    text += "xkb_keycodes \"";
    text += ourKeymapName;
    text += "\" {";
    text += deskText.substr(keycodes->bodyStart, keycodes->closing - keycodes->bodyStart);
    text += newNames;
    text += deskText.substr(keycodes->closing, symbols->closing - keycodes->closing);
    text += newSymbols;
    text += deskText.substr(symbols->closing);
    return text;
}

std::optional<std::uint32_t> evdevKeycode(Keycode keycode) {
    if (keycode < 8) {
        return std::nullopt;
    }
    return keycode - 8;
}

std::optional<std::uint32_t> evdevButton(int button) {
    switch (button) {
        case pointerButton::left: return btnLeft;
        case pointerButton::middle: return btnMiddle;
        case pointerButton::right: return btnRight;
        default: return std::nullopt;
    }
}

std::optional<WheelStep> wheelStep(int button) {
    switch (button) {
        case pointerButton::wheelUp: return WheelStep{verticalAxis, -1, -wheelClickAmount};
        case pointerButton::wheelDown: return WheelStep{verticalAxis, 1, wheelClickAmount};
        case pointerButton::wheelLeft: return WheelStep{horizontalAxis, -1, -wheelClickAmount};
        case pointerButton::wheelRight: return WheelStep{horizontalAxis, 1, wheelClickAmount};
        default: return std::nullopt;
    }
}

std::optional<Rect> layoutBox(const std::vector<Rect>& outputs) {
    std::optional<Rect> box;
    for (const Rect& output : outputs) {
        if (output.isEmpty()) {
            continue;
        }
        if (!box) {
            box = output;
            continue;
        }
        const double left = std::min(box->minX(), output.minX());
        const double top = std::min(box->minY(), output.minY());
        const double right = std::max(box->maxX(), output.maxX());
        const double bottom = std::max(box->maxY(), output.maxY());
        box = Rect{left, top, right - left, bottom - top};
    }
    return box;
}

std::optional<AbsoluteMotion> absoluteMotion(Point to, const Rect& box) {
    const double width = std::round(box.width);
    const double height = std::round(box.height);
    if (width < 1 || height < 1 || !std::isfinite(to.x) || !std::isfinite(to.y)) {
        return std::nullopt;
    }
    // The compositor puts the pointer at box.x + x / xExtent * box.width: whole points on the grid,
    // the last one inside the box.
    const double x = std::clamp(std::round(to.x - box.minX()), 0.0, width - 1);
    const double y = std::clamp(std::round(to.y - box.minY()), 0.0, height - 1);
    return AbsoluteMotion{static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                          static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

}  // namespace vantrel::wayland
