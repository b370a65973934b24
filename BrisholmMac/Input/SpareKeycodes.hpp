#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "Input/InputDevice.hpp"

namespace vantrel {

// Lends the keymap's empty keys to characters it lacks, so that such characters can be typed.
//
// A key keeps its character after typing, and the least recently used key is the one taken for a
// new character. The reason is the application that reads the keymap late: an X client learns of a
// new mapping from an event and often fetches it only when it interprets the next key press, so
// it reads that press with whatever the key carries by then. A key typed on is therefore rebound
// (or emptied) only after the focused application has shown that it read everything sent before
// (InputDevice::syncWithFocusedClient); with keys kept as long as possible, that is needed at most
// once per round through the spare keys. restoreAll() empties them all: the injector calls it when
// the phone leaves and when it is destroyed.
//
// Lives on the injector's thread (main).
class SpareKeycodes {
public:
    // The key that types character, binding one when none does, but never one of busy (keys bound
    // for characters the caller has yet to type); none when every key not busy is taken, the
    // keymap has no spare key or the binding failed.
    [[nodiscard]] std::optional<Keycode> keycodeFor(InputDevice& device, char32_t character,
                                                    const std::set<Keycode>& busy = {});

    // Empties every key this pool bound.
    void restoreAll(InputDevice& device);

private:
    struct Key {
        Keycode keycode = 0;
        std::optional<char32_t> character;
        std::uint64_t lastUse = 0;
        bool typedSinceSync = false;  // the focused application may not have read it yet
    };

    void reloadIfReplaced(InputDevice& device);
    void syncIfTyped(InputDevice& device, bool needed);

    std::vector<Key> keys_;
    bool loaded_ = false;
    std::uint64_t generation_ = 0;
    std::uint64_t uses_ = 0;
};

}  // namespace vantrel
