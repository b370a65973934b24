#pragma once

#include <fmt/format.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "Input/InputDevice.hpp"

namespace vantrel::testing {

// A pointer and keyboard that write down what they are asked to do, one readable line per event
// ("key 50 down", "button 1 up", "move 10,20", "bind 200 U+00F1", "paste ñ", "session over"), over a small keymap of
// its own: a few named keys, the four modifier keys, the characters of `strokes` and spare keys.
class FakeInputDevice : public InputDevice {
public:
    std::vector<std::string> log;
    int flushes = 0;
    Point pointer;
    bool pointerReadable = true;
    std::map<std::string, Keycode, std::less<>> keyNames{{"AC01", 38}, {"AB01", 52}, {"LFSH", 50}, {"RTSH", 62},
                                                         {"LCTL", 37}, {"LALT", 64}, {"LWIN", 133}};
    std::map<ModifierKey, Keycode> modifiers{
        {ModifierKey::shift, 50}, {ModifierKey::control, 37}, {ModifierKey::alt, 64}, {ModifierKey::super, 133}};
    std::map<char32_t, KeyStroke> strokes{{U'a', {38, {}}}, {U'A', {38, {50}}}, {U'@', {24, {92}}}};
    std::vector<Keycode> spare{200, 201};
    std::uint64_t generation = 0;
    bool bindAhead = false;
    // A device that pastes text its keymap lacks ("paste ñ"), and whether an application takes it.
    bool pastes = false;
    bool pasteTaken = true;

    std::optional<Point> pointerLocation() override {
        return pointerReadable ? std::optional<Point>(pointer) : std::nullopt;
    }
    // Whole pixels, as a display server keeps them.
    void movePointer(Point to) override {
        pointer = {std::round(to.x), std::round(to.y)};
        log.push_back(fmt::format("move {},{}", pointer.x, pointer.y));
    }
    void pressButton(int button, bool down) override {
        log.push_back(fmt::format("button {} {}", button, updown(down)));
    }
    void pressKey(Keycode keycode, bool down) override {
        log.push_back(fmt::format("key {} {}", keycode, updown(down)));
    }
    std::optional<Keycode> keycodeForKeyName(std::string_view name) override {
        const auto found = keyNames.find(name);
        return found != keyNames.end() ? std::optional(found->second) : std::nullopt;
    }
    std::optional<Keycode> modifierKeycode(ModifierKey key) override { return modifiers.at(key); }
    std::optional<KeyStroke> strokeForCharacter(char32_t character) override {
        const auto found = strokes.find(character);
        return found != strokes.end() ? std::optional(found->second) : std::nullopt;
    }
    std::vector<Keycode> spareKeycodes() override { return spare; }
    bool bindKeycode(Keycode keycode, std::optional<char32_t> character) override {
        log.push_back(character ? fmt::format("bind {} U+{:04X}", keycode, static_cast<std::uint32_t>(*character))
                                : fmt::format("unbind {}", keycode));
        return true;
    }
    bool syncWithFocusedClient() override {
        log.push_back("sync");
        return true;
    }
    bool bindsAhead() const override { return bindAhead; }
    bool pastesText() const override { return pastes; }
    bool pasteText(std::string_view utf8) override {
        log.push_back(fmt::format("paste {}", utf8));
        return pasteTaken;
    }
    std::uint64_t keymapGeneration() override { return generation; }
    void flush() override { ++flushes; }
    void sessionOver() override { log.push_back("session over"); }

    static const char* updown(bool down) { return down ? "down" : "up"; }

    // The log so far, emptied.
    std::vector<std::string> take() { return std::exchange(log, {}); }
};

}  // namespace vantrel::testing
