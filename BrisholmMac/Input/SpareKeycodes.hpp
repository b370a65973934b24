#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Input/InputDevice.hpp"

namespace vantrel {

// Lends the keymap's empty keys to characters it lacks, so that such characters can be typed.
//
// A key keeps its character after typing, and the least recently used key is the one taken for a
// new character. The reason is the client that reads the keymap late: an X client learns of a
// new mapping from an event and often fetches it only when it interprets the next key press. Were
// the key emptied (or given the next character) right after typing, such a client would read that
// press with the mapping of later. Held for as long as possible, a key is only rebound after every
// other spare key has been used since. restoreAll() empties them all: the injector calls it when
// the phone leaves and when it is destroyed.
//
// Lives on the injector's thread (main).
class SpareKeycodes {
public:
    // The key that types character, binding one when none does; none when the keymap has no spare
    // key or the binding failed.
    [[nodiscard]] std::optional<Keycode> keycodeFor(InputDevice& device, char32_t character);

    // Empties every key this pool bound.
    void restoreAll(InputDevice& device);

private:
    struct Key {
        Keycode keycode = 0;
        std::optional<char32_t> character;
        std::uint64_t lastUse = 0;
    };

    void reloadIfReplaced(InputDevice& device);

    std::vector<Key> keys_;
    bool loaded_ = false;
    std::uint64_t generation_ = 0;
    std::uint64_t uses_ = 0;
};

}  // namespace vantrel
