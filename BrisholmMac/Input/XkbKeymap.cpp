#include "Input/XkbKeymap.hpp"

#include <algorithm>
#include <array>
#include <string>

namespace vantrel {

namespace {

// The keysyms of keys that only hold a modifier, in the order we prefer them: the left key of
// each kind first, so the injector presses what a person would.
constexpr std::array<xkb_keysym_t, 15> modifierKeysyms{
    XKB_KEY_Shift_L, XKB_KEY_Control_L, XKB_KEY_Alt_L,   XKB_KEY_Super_L,          XKB_KEY_ISO_Level3_Shift,
    XKB_KEY_Shift_R, XKB_KEY_Control_R, XKB_KEY_Alt_R,   XKB_KEY_Super_R,          XKB_KEY_Meta_L,
    XKB_KEY_Meta_R,  XKB_KEY_Hyper_L,   XKB_KEY_Hyper_R, XKB_KEY_ISO_Level5_Shift, XKB_KEY_Mode_switch,
};

xkb_keysym_t onlySym(xkb_keymap* keymap, Keycode keycode, xkb_layout_index_t layout, xkb_level_index_t level) {
    const xkb_keysym_t* syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, level, &syms);
    return count == 1 ? syms[0] : XKB_KEY_NoSymbol;
}

// X numbers keys 8 to 255; keymaps compiled from names also hold keys past that, which no X
// client can receive.
constexpr Keycode firstKeycode = 8;
constexpr Keycode lastKeycode = 255;

Keycode minKeycode(xkb_keymap* keymap) {
    return std::max<Keycode>(xkb_keymap_min_keycode(keymap), firstKeycode);
}
Keycode maxKeycode(xkb_keymap* keymap) {
    return std::min<Keycode>(xkb_keymap_max_keycode(keymap), lastKeycode);
}

int preference(xkb_keysym_t keysym) {
    for (std::size_t i = 0; i < modifierKeysyms.size(); ++i) {
        if (modifierKeysyms[i] == keysym) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

xkb_keysym_t keysymForCharacter(char32_t character) {
    switch (character) {
        case U'\n':
        case U'\r': return XKB_KEY_Return;
        case U'\t': return XKB_KEY_Tab;
        case U'\b': return XKB_KEY_BackSpace;
        case U'\x1b': return XKB_KEY_Escape;
        default: break;
    }
    if (character < 0x20 || (character >= 0x7F && character < 0xA0)) {
        return XKB_KEY_NoSymbol;
    }
    return xkb_utf32_to_keysym(character);
}

XkbKeymap::XkbKeymap(XkbKeymapPtr keymap) : keymap_(std::move(keymap)) {
    xkb_keymap* map = keymap_.get();
    std::map<xkb_mod_mask_t, int> bestPreference;
    for (Keycode keycode = minKeycode(map); keycode <= maxKeycode(map); ++keycode) {
        const int rank = preference(onlySym(map, keycode, 0, 0));
        if (rank < 0) {
            continue;
        }
        // Ask the keymap what the key really does: press it on a scratch state.
        const XkbStatePtr state(xkb_state_new(map));
        xkb_state_update_key(state.get(), keycode, XKB_KEY_DOWN);
        const xkb_mod_mask_t mask = xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED);
        if (mask == 0) {
            continue;
        }
        modifierKeys_[keycode] = mask;
        const bool singleBit = (mask & (mask - 1)) == 0;
        if (singleBit && (!bestPreference.contains(mask) || rank < bestPreference[mask])) {
            bestPreference[mask] = rank;
            keyForModifierBit_[mask] = keycode;
        }
    }
}

std::optional<XkbKeymap> XkbKeymap::fromLayout(xkb_context* context, const char* layout, const char* variant) {
    const xkb_rule_names names{"evdev", "pc105", layout, variant, nullptr};
    XkbKeymapPtr keymap(xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return std::nullopt;
    }
    return XkbKeymap(std::move(keymap));
}

std::optional<Keycode> XkbKeymap::keycodeForName(std::string_view name) const {
    const std::string terminated(name);
    const xkb_keycode_t keycode = xkb_keymap_key_by_name(keymap_.get(), terminated.c_str());
    if (keycode == XKB_KEYCODE_INVALID || keycode > lastKeycode) {
        return std::nullopt;
    }
    return keycode;
}

std::optional<Keycode> XkbKeymap::modifierKeycode(ModifierKey key) const {
    std::array<xkb_keysym_t, 3> wanted{};
    switch (key) {
        case ModifierKey::shift: wanted = {XKB_KEY_Shift_L, XKB_KEY_Shift_R, XKB_KEY_Shift_L}; break;
        case ModifierKey::control: wanted = {XKB_KEY_Control_L, XKB_KEY_Control_R, XKB_KEY_Control_L}; break;
        case ModifierKey::alt: wanted = {XKB_KEY_Alt_L, XKB_KEY_Alt_R, XKB_KEY_Meta_L}; break;
        case ModifierKey::super: wanted = {XKB_KEY_Super_L, XKB_KEY_Super_R, XKB_KEY_Super_L}; break;
    }
    for (const xkb_keysym_t keysym : wanted) {
        for (const auto& [keycode, mask] : modifierKeys_) {
            if (onlySym(keymap_.get(), keycode, 0, 0) == keysym) {
                return keycode;
            }
        }
    }
    return std::nullopt;
}

std::optional<KeyStroke> XkbKeymap::strokeFor(xkb_keysym_t keysym, xkb_layout_index_t group,
                                              xkb_mod_mask_t lockedMods) const {
    if (keysym == XKB_KEY_NoSymbol) {
        return std::nullopt;
    }
    xkb_keymap* map = keymap_.get();
    const XkbStatePtr base(xkb_state_new(map));
    xkb_state_update_mask(base.get(), 0, 0, lockedMods, 0, 0, group);
    const xkb_mod_mask_t shiftMask = 1U << xkb_keymap_mod_get_index(map, XKB_MOD_NAME_SHIFT);

    std::optional<KeyStroke> best;
    for (Keycode keycode = minKeycode(map); keycode <= maxKeycode(map); ++keycode) {
        if (modifierKeys_.contains(keycode) || xkb_keymap_num_layouts_for_key(map, keycode) == 0) {
            continue;
        }
        // The group this key answers to (a key with fewer groups wraps or clamps the active one).
        const xkb_layout_index_t layout = xkb_state_key_get_layout(base.get(), keycode);
        if (layout == XKB_LAYOUT_INVALID) {
            continue;
        }
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(map, keycode, layout);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            if (onlySym(map, keycode, layout, level) != keysym) {
                continue;
            }
            // The masks that select this level, and each with Shift added: Shift is what turns a
            // letter back to small while Caps Lock is on.
            std::array<xkb_mod_mask_t, 32> masks{};
            const auto count = xkb_keymap_key_get_mods_for_level(map, keycode, layout, level, masks.data(), 16);
            for (std::size_t i = 0; i < count; ++i) {
                masks[count + i] = masks[i] | shiftMask;
            }
            for (std::size_t i = 0; i < 2 * count; ++i) {
                KeyStroke stroke{keycode, {}};
                bool pressable = true;
                const xkb_mod_mask_t needed = masks[i] & ~lockedMods;
                for (xkb_mod_mask_t bit = 1; bit != 0 && pressable; bit <<= 1U) {
                    if ((needed & bit) == 0) {
                        continue;
                    }
                    const auto key = keyForModifierBit_.find(bit);
                    pressable = key != keyForModifierBit_.end();
                    if (pressable) {
                        stroke.modifiers.push_back(key->second);
                    }
                }
                if (!pressable || (best && best->modifiers.size() <= stroke.modifiers.size())) {
                    continue;
                }
                // Check on a scratch state that these presses really give the keysym, locks and
                // all (Caps Lock turns some levels around).
                const XkbStatePtr trial(xkb_state_new(map));
                xkb_state_update_mask(trial.get(), 0, 0, lockedMods, 0, 0, group);
                for (const Keycode modifier : stroke.modifiers) {
                    xkb_state_update_key(trial.get(), modifier, XKB_KEY_DOWN);
                }
                if (xkb_state_key_get_one_sym(trial.get(), keycode) == keysym) {
                    best = std::move(stroke);
                    if (best->modifiers.empty()) {
                        return best;
                    }
                }
            }
        }
    }
    return best;
}

std::vector<Keycode> XkbKeymap::spareKeycodes() const {
    xkb_keymap* map = keymap_.get();
    std::vector<Keycode> spare;
    for (Keycode keycode = minKeycode(map); keycode <= maxKeycode(map); ++keycode) {
        bool empty = true;
        const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(map, keycode);
        for (xkb_layout_index_t layout = 0; layout < layouts && empty; ++layout) {
            const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(map, keycode, layout);
            for (xkb_level_index_t level = 0; level < levels && empty; ++level) {
                const xkb_keysym_t* syms = nullptr;
                empty = xkb_keymap_key_get_syms_by_level(map, keycode, layout, level, &syms) == 0;
            }
        }
        if (empty) {
            spare.push_back(keycode);
        }
    }
    return spare;
}

}  // namespace vantrel
