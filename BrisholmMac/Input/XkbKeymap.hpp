#pragma once

#include <xkbcommon/xkbcommon.h>

#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "Input/InputDevice.hpp"

namespace vantrel {

struct XkbContextDeleter {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct XkbKeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct XkbStateDeleter {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
using XkbContextPtr = std::unique_ptr<xkb_context, XkbContextDeleter>;
using XkbKeymapPtr = std::unique_ptr<xkb_keymap, XkbKeymapDeleter>;
using XkbStatePtr = std::unique_ptr<xkb_state, XkbStateDeleter>;

// The keysym X uses for a Unicode character: Return for a line break, the keyboard's own keysyms
// for Tab, Backspace and Escape; none (0) for other control characters, which no key types.
[[nodiscard]] xkb_keysym_t keysymForCharacter(char32_t character);

// Answers the injector's questions about one keymap: where a named key is, which key holds a
// modifier, how a character is typed, which keys are empty. Pure: it reads the keymap and tries
// key presses on a scratch keyboard state, so tests run it on keymaps compiled from layout names.
class XkbKeymap {
public:
    explicit XkbKeymap(XkbKeymapPtr keymap);

    // The keymap of an RMLVO layout ("us", "de" ...) from the system's XKB data; none when it
    // does not compile.
    [[nodiscard]] static std::optional<XkbKeymap> fromLayout(xkb_context* context, const char* layout,
                                                             const char* variant = "");

    [[nodiscard]] std::optional<Keycode> keycodeForName(std::string_view name) const;
    [[nodiscard]] std::optional<Keycode> modifierKeycode(ModifierKey key) const;

    // The key and modifier keys that type keysym in group (layout index) while lockedMods (the
    // real modifier mask of Caps Lock, Num Lock ...) are locked. Prefers strokes with fewer
    // modifier keys. Keys that are themselves modifiers are never used.
    [[nodiscard]] std::optional<KeyStroke> strokeFor(xkb_keysym_t keysym, xkb_layout_index_t group,
                                                     xkb_mod_mask_t lockedMods) const;

    // Keys in the keymap's range that carry no symbol at all.
    [[nodiscard]] std::vector<Keycode> spareKeycodes() const;

    [[nodiscard]] xkb_keymap* get() const { return keymap_.get(); }

private:
    XkbKeymapPtr keymap_;
    // For each key whose only effect is setting modifiers: the modifier mask it sets.
    std::map<Keycode, xkb_mod_mask_t> modifierKeys_;
    // For each single real modifier bit: the key that sets it, the left one where there are two.
    std::map<xkb_mod_mask_t, Keycode> keyForModifierBit_;
};

}  // namespace vantrel
