#include "Input/InputInjector.hpp"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <utility>

#include "Input/KeyPositions.hpp"
#include "Input/TypedText.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel {

namespace {

int buttonNumber(MouseButton button) {
    switch (button) {
        case MouseButton::left: return pointerButton::left;
        case MouseButton::right: return pointerButton::right;
        case MouseButton::middle: return pointerButton::middle;
    }
    return pointerButton::left;
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool finite(double a, double b) {
    return std::isfinite(a) && std::isfinite(b);
}

// Takes the whole wheel clicks out of a carried pixel amount; what stays behind is less than one
// click. An amount so large that it lost its fraction carries nothing.
int takeWheelClicks(double& pixels) {
    const double clicks = std::trunc(pixels / InputInjector::pixelsPerWheelClick);
    pixels -= clicks * InputInjector::pixelsPerWheelClick;
    if (!std::isfinite(pixels) || std::abs(pixels) >= InputInjector::pixelsPerWheelClick) {
        pixels = 0;
    }
    const double limit = InputInjector::maxWheelClicksPerEvent;
    return static_cast<int>(std::clamp(clicks, -limit, limit));
}

}  // namespace

InputInjector::InputInjector(std::shared_ptr<InputDevice> device, ActiveBounds activeBounds, Clock clock)
    : device_(std::move(device)),
      activeBounds_(std::move(activeBounds)),
      clock_(clock ? std::move(clock) : Clock(steadySeconds)) {}

// The phone may be gone without a goodbye: nothing stays pressed and no key keeps a borrowed
// character once the injector is gone.
InputInjector::~InputInjector() {
    releaseAll();
}

void InputInjector::checkThread() const {
    assert(std::this_thread::get_id() == thread_ && "the injector lives on the thread that made it (main)");
}

void InputInjector::handle(const InputEvent& event) {
    checkThread();
    std::visit(
        [this](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, input::PointerMove>) {
                if (finite(e.dx, e.dy)) {
                    const Point from = exactLocation();
                    movePointer({from.x + e.dx, from.y + e.dy});
                }
            } else if constexpr (std::is_same_v<E, input::PointerMoveAbsolute>) {
                const auto bounds = activeBounds_ ? activeBounds_() : std::nullopt;
                if (!bounds) {
                    diagnosticLog().debug("input: absolute move dropped, the watched display is not known");
                    return;
                }
                if (!finite(e.x, e.y)) {
                    return;
                }
                movePointer({bounds->minX() + std::clamp(e.x, 0.0, 1.0) * bounds->width,
                             bounds->minY() + std::clamp(e.y, 0.0, 1.0) * bounds->height});
            } else if constexpr (std::is_same_v<E, input::Button>) {
                if (e.down && onClick) {
                    onClick();
                }
                press(e.button, e.down);
            } else if constexpr (std::is_same_v<E, input::Scroll>) {
                scroll(e.dx, e.dy);
            } else if constexpr (std::is_same_v<E, input::Key>) {
                key(e);
            } else {
                type(e.text);
            }
        },
        event);
}

Point InputInjector::currentLocation() {
    return device_->pointerLocation().value_or(Point{});
}

Point InputInjector::exactLocation() {
    const Point shown = currentLocation();
    // The display server keeps whole pixels. Where the pointer still stands on the pixel this
    // injector put it on, the fraction it was asked for goes on, so that many small moves add up
    // to the distance the phone's finger went; once it stands elsewhere (moved at the desk), the
    // move starts from there.
    if (placed_ && std::lround(placed_->x) == std::lround(shown.x) && std::lround(placed_->y) == std::lround(shown.y)) {
        return *placed_;
    }
    return shown;
}

std::optional<Point> InputInjector::pointerLocation() {
    return device_->pointerLocation();
}

void InputInjector::movePointer(Point to) {
    checkThread();
    if (!finite(to.x, to.y)) {
        return;
    }
    // A relative move starts wherever the pointer is, even on another display: it still ends on
    // the one the phone watches.
    if (const auto bounds = activeBounds_ ? activeBounds_() : std::nullopt; bounds && !bounds->isEmpty()) {
        to.x = std::clamp(to.x, bounds->minX(), bounds->maxX() - 1);
        to.y = std::clamp(to.y, bounds->minY(), bounds->maxY() - 1);
    }
    // X makes a move with a button held a drag by itself.
    placed_ = to;
    device_->movePointer(to);
    device_->flush();
}

void InputInjector::press(MouseButton button, bool down) {
    const Point location = currentLocation();
    if (down) {
        const double now = clock_();
        const auto last = lastClickTime_.find(button);
        const bool continues = last != lastClickTime_.end() && now - last->second < clickSeriesSeconds &&
                               std::abs(location.x - lastClickLocation_.x) < clickSeriesPoints &&
                               std::abs(location.y - lastClickLocation_.y) < clickSeriesPoints;
        clickCount_ = continues ? std::min(clickCount_ + 1, 3) : 1;
        lastClickTime_[button] = now;
        lastClickLocation_ = location;
        buttonsDown_.insert(button);
    } else if (buttonsDown_.erase(button) == 0) {
        return;  // never pressed here: releasing it could end a press made at the desk
    }
    device_->pressButton(buttonNumber(button), down);
    device_->flush();
}

void InputInjector::scroll(double dx, double dy) {
    if (!finite(dx, dy)) {
        return;
    }
    scrollRemainder_.x += dx;
    scrollRemainder_.y += dy;
    const int vertical = takeWheelClicks(scrollRemainder_.y);
    const int horizontal = takeWheelClicks(scrollRemainder_.x);
    // Positive amounts scroll up and to the left, as the phone's home platform counts them.
    const auto click = [this](int button, int count) {
        for (int i = 0; i < count; ++i) {
            device_->pressButton(button, true);
            device_->pressButton(button, false);
        }
    };
    click(vertical > 0 ? pointerButton::wheelUp : pointerButton::wheelDown, std::abs(vertical));
    click(horizontal > 0 ? pointerButton::wheelLeft : pointerButton::wheelRight, std::abs(horizontal));
    if (vertical != 0 || horizontal != 0) {
        device_->flush();
    }
}

void InputInjector::key(const input::Key& event) {
    const auto position = keyPosition(event.code);
    const auto keycode = position ? device_->keycodeForKeyName(position->keyName) : std::nullopt;
    if (!keycode) {
        diagnosticLog().debug("input: key code {} has no key on this keyboard", event.code);
        return;
    }
    if (!event.down && !keysDown_.contains(*keycode)) {
        return;  // not held here (perhaps released already when the phone left)
    }
    if (position->modifier || !event.down) {
        // A modifier key of its own is pressed and held as it is; the keys after it see it held.
        // A release changes no modifier either: pressing the modifiers around it would be a lone
        // tap of each, and a lone Super tap opens a launcher on many desktops.
        device_->pressKey(*keycode, event.down);
        if (event.down) {
            keysDown_[*keycode] = position->modifier;
        } else {
            keysDown_.erase(*keycode);
        }
        device_->flush();
        return;
    }

    // The key goes in with exactly the modifiers the event names: held modifier keys it does not
    // want are let go first and the missing ones pressed; afterwards both are put back.
    std::vector<std::pair<ModifierKey, bool>> wanted{
        {ModifierKey::shift, event.modifiers.contains(Modifiers::shift)},
        {ModifierKey::control, event.modifiers.contains(Modifiers::control)},
        {ModifierKey::alt, event.modifiers.contains(Modifiers::option)},
        {ModifierKey::super, event.modifiers.contains(Modifiers::command)}};
    std::vector<Keycode> letGo;
    std::vector<Keycode> added;
    for (const auto& [modifier, want] : wanted) {
        bool held = false;
        for (const auto& [heldKey, heldModifier] : keysDown_) {
            if (heldModifier == modifier) {
                held = true;
                if (!want) {
                    letGo.push_back(heldKey);
                }
            }
        }
        if (want && !held) {
            if (const auto modifierKey = device_->modifierKeycode(modifier)) {
                added.push_back(*modifierKey);
            }
        }
    }
    for (const Keycode k : letGo) {
        device_->pressKey(k, false);
    }
    for (const Keycode k : added) {
        device_->pressKey(k, true);
    }
    device_->pressKey(*keycode, true);
    for (auto k = added.rbegin(); k != added.rend(); ++k) {
        device_->pressKey(*k, false);
    }
    for (const Keycode k : letGo) {
        device_->pressKey(k, true);
    }
    keysDown_[*keycode] = std::nullopt;
    device_->flush();
}

void InputInjector::releaseKeys() {
    for (const auto& [keycode, modifier] : keysDown_) {
        device_->pressKey(keycode, false);
    }
    keysDown_.clear();
}

void InputInjector::type(const std::string& utf8) {
    const auto text = decodedText(utf8);
    if (text.empty()) {
        return;
    }
    // A modifier still held from a key event would change every character typed.
    releaseKeys();
    if (device_->pastesText()) {
        typeOrPaste(text);
        return;
    }
    for (const auto& chunk : textChunks(text)) {
        typeChunk(chunk);
    }
}

void InputInjector::typeOrPaste(std::u32string_view text) {
    // Runs the keymap lacks go in whole, each after the keys typed before it and before the keys
    // after it; a run no application took is tried on spare keys, as on a device that cannot paste.
    std::map<char32_t, bool> typable;
    const auto hasKey = [&](char32_t character) {
        const auto [known, fresh] = typable.try_emplace(character, false);
        if (fresh) {
            known->second = device_->strokeForCharacter(character).has_value();
        }
        return known->second;
    };
    for (const auto& run : textRuns(text, hasKey)) {
        if (run.pasted) {
            if (device_->pasteText(utf8Text(run.text))) {
                continue;
            }
            diagnosticLog().warn("input: no application took {} pasted character(s)", run.text.size());
        }
        for (const auto& chunk : textChunks(run.text)) {
            typeChunk(chunk);
        }
    }
}

void InputInjector::typeChunk(const std::u32string& chunk) {
    std::vector<KeyStroke> pending;
    std::set<Keycode> busy;  // borrowed keys the pending strokes type with
    const auto typePending = [&] {
        for (const auto& stroke : pending) {
            for (const Keycode modifier : stroke.modifiers) {
                device_->pressKey(modifier, true);
            }
            device_->pressKey(stroke.keycode, true);
            device_->pressKey(stroke.keycode, false);
            for (auto modifier = stroke.modifiers.rbegin(); modifier != stroke.modifiers.rend(); ++modifier) {
                device_->pressKey(*modifier, false);
            }
        }
        pending.clear();
        busy.clear();
    };
    // Where the device asks for it, every key a chunk borrows is bound before the chunk is typed, so
    // that a device which hands the application a whole new keymap for each change hands it one per
    // chunk rather than one per character. A chunk that needs more keys than are free is typed in
    // parts.
    const bool bindAhead = device_->bindsAhead();
    for (const char32_t character : chunk) {
        auto stroke = device_->strokeForCharacter(character);
        if (!stroke) {
            auto spare = spareKeycodes_.keycodeFor(*device_, character, busy);
            if (!spare && !busy.empty()) {
                typePending();
                spare = spareKeycodes_.keycodeFor(*device_, character, busy);
            }
            if (!spare) {
                diagnosticLog().warn("input: cannot type U+{:04X}: no key for it",
                                     static_cast<std::uint32_t>(character));
                continue;
            }
            busy.insert(*spare);
            stroke = KeyStroke{*spare, {}};
        }
        pending.push_back(std::move(*stroke));
        if (!bindAhead) {
            typePending();
        }
    }
    typePending();
    device_->flush();
}

void InputInjector::releaseAll() {
    checkThread();
    const auto held = buttonsDown_;
    for (const MouseButton button : held) {
        if (buttonsDown_.erase(button) != 0) {
            device_->pressButton(buttonNumber(button), false);
        }
    }
    releaseKeys();
    spareKeycodes_.restoreAll(*device_);
    device_->flush();
    device_->sessionOver();
}

}  // namespace vantrel
