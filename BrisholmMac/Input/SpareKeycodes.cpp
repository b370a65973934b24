#include "Input/SpareKeycodes.hpp"

#include <algorithm>

#include "Log/DiagnosticLog.hpp"

namespace vantrel {

void SpareKeycodes::reloadIfReplaced(InputDevice& device) {
    const auto generation = device.keymapGeneration();
    if (loaded_ && generation == generation_) {
        return;
    }
    // A new keymap dropped whatever was bound to its keys: start again from its empty ones.
    keys_.clear();
    for (const Keycode keycode : device.spareKeycodes()) {
        keys_.push_back({keycode, std::nullopt, 0});
    }
    if (keys_.empty()) {
        diagnosticLog().warn("input: the keymap has no empty key, so characters it lacks cannot be typed");
    }
    loaded_ = true;
    generation_ = generation;
}

void SpareKeycodes::syncIfTyped(InputDevice& device, bool needed) {
    if (!needed) {
        return;
    }
    // Whatever the answer, go on: an application that does not answer pings cannot be waited for.
    device.syncWithFocusedClient();
    for (auto& key : keys_) {
        key.typedSinceSync = false;
    }
}

std::optional<Keycode> SpareKeycodes::keycodeFor(InputDevice& device, char32_t character,
                                                 const std::set<Keycode>& busy) {
    reloadIfReplaced(device);
    if (keys_.empty()) {
        return std::nullopt;
    }
    ++uses_;
    const auto bound = std::ranges::find(keys_, std::optional<char32_t>(character), &Key::character);
    if (bound != keys_.end()) {
        bound->lastUse = uses_;
        bound->typedSinceSync = true;
        return bound->keycode;
    }
    // Empty keys have never been used or were restored; both count as used before any bound key.
    Key* taken = nullptr;
    for (auto& key : keys_) {
        const auto lastUse = [](const Key& k) { return k.character ? k.lastUse : 0; };
        if (!busy.contains(key.keycode) && (taken == nullptr || lastUse(key) < lastUse(*taken))) {
            taken = &key;
        }
    }
    if (taken == nullptr) {
        return std::nullopt;
    }
    Key& key = *taken;
    syncIfTyped(device, key.typedSinceSync);
    if (!device.bindKeycode(key.keycode, character)) {
        return std::nullopt;
    }
    key.character = character;
    key.lastUse = uses_;
    key.typedSinceSync = true;
    return key.keycode;
}

void SpareKeycodes::restoreAll(InputDevice& device) {
    if (!loaded_) {
        return;
    }
    if (device.keymapGeneration() != generation_) {
        loaded_ = false;  // the keymap was replaced: nothing of ours is left on it
        return;
    }
    syncIfTyped(device, std::ranges::any_of(keys_, &Key::typedSinceSync));
    for (auto& key : keys_) {
        if (key.character) {
            key.character.reset();
            device.bindKeycode(key.keycode, std::nullopt);
        }
    }
}

}  // namespace vantrel
