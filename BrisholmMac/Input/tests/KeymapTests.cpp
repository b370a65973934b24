#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "Input/KeyPositions.hpp"
#include "Input/x11/XkbKeymap.hpp"

namespace vantrel {
namespace {

using ::testing::Contains;
using ::testing::Not;

// Keymaps compiled from layout names with the system's XKB data, as a desktop would load them.
class KeymapTest : public ::testing::Test {
protected:
    XkbContextPtr context{xkb_context_new(XKB_CONTEXT_NO_FLAGS)};
    XkbKeymap us = load("us");
    XkbKeymap german = load("de");

    XkbKeymap load(const char* layout) {
        auto keymap = XkbKeymap::fromLayout(context.get(), layout);
        if (!keymap) {
            throw std::runtime_error(std::string("no XKB data for layout ") + layout);
        }
        return std::move(*keymap);
    }
    Keycode named(const XkbKeymap& keymap, const char* name) { return keymap.keycodeForName(name).value_or(0); }
    std::optional<KeyStroke> stroke(const XkbKeymap& keymap, char32_t character, xkb_mod_mask_t locked = 0) {
        return keymap.strokeFor(keysymForCharacter(character), 0, locked);
    }
};

TEST_F(KeymapTest, EveryPhoneKeyHasItsPlaceOnAPcKeyboard) {
    const auto table = keyPositions();
    EXPECT_TRUE(std::ranges::adjacent_find(table, std::ranges::greater_equal{}, &KeyPosition::code) == table.end());
    for (const auto& position : table) {
        EXPECT_TRUE(us.keycodeForName(position.keyName)) << position.keyName;
        EXPECT_EQ(keyPosition(position.code)->keyName, position.keyName);
    }
    EXPECT_FALSE(keyPosition(0x3F));  // Function
    EXPECT_FALSE(keyPosition(0xFFFF));

    // Modifier keys of the table really hold their modifier.
    EXPECT_EQ(keyPosition(0x38)->modifier, ModifierKey::shift);
    EXPECT_EQ(us.modifierKeycode(ModifierKey::shift), us.keycodeForName(keyPosition(0x38)->keyName));
    EXPECT_EQ(us.modifierKeycode(ModifierKey::super), us.keycodeForName(keyPosition(0x37)->keyName));
    EXPECT_EQ(us.modifierKeycode(ModifierKey::alt), us.keycodeForName(keyPosition(0x3A)->keyName));
    EXPECT_EQ(us.modifierKeycode(ModifierKey::control), us.keycodeForName(keyPosition(0x3B)->keyName));
}

TEST_F(KeymapTest, TheDesktopsLayoutDecidesWhatAPlaceTypes) {
    // The phone's "Z" place is the key right of the left Shift: "z" in the US, "y" in Germany.
    const Keycode zPlace = named(us, keyPosition(0x06)->keyName.data());
    EXPECT_EQ(stroke(us, U'z'), (KeyStroke{zPlace, {}}));
    EXPECT_EQ(stroke(german, U'y'), (KeyStroke{zPlace, {}}));
}

TEST_F(KeymapTest, CharactersAreFoundOnAnyLevelWithTheModifiersTheyNeed) {
    const Keycode shift = named(us, "LFSH");
    EXPECT_EQ(stroke(us, U'a'), (KeyStroke{named(us, "AC01"), {}}));
    EXPECT_EQ(stroke(us, U'A'), (KeyStroke{named(us, "AC01"), {shift}}));
    EXPECT_EQ(stroke(us, U'\n'), (KeyStroke{named(us, "RTRN"), {}}));
    EXPECT_FALSE(stroke(us, U'\u00FC'));  // no ü in the US layout
    EXPECT_FALSE(stroke(us, U'\x01'));    // control characters have no key

    // German: ü has a key of its own, € and @ are AltGr levels.
    EXPECT_EQ(stroke(german, U'\u00FC'), (KeyStroke{named(german, "AD11"), {}}));
    const auto euro = stroke(german, U'\u20AC');
    ASSERT_TRUE(euro);
    EXPECT_EQ(euro->keycode, named(german, "AD03"));
    ASSERT_EQ(euro->modifiers.size(), 1U);
    const auto at = stroke(german, U'@');
    ASSERT_TRUE(at);
    EXPECT_EQ(at->keycode, named(german, "AD01"));
    EXPECT_EQ(at->modifiers, euro->modifiers);
    EXPECT_THAT(euro->modifiers, Not(Contains(named(german, "LFSH"))));
}

TEST_F(KeymapTest, LockedCapsLockIsTakenIntoAccount) {
    const xkb_mod_mask_t capsLock = 1U << xkb_keymap_mod_get_index(us.get(), XKB_MOD_NAME_CAPS);
    EXPECT_EQ(stroke(us, U'A', capsLock), (KeyStroke{named(us, "AC01"), {}}));
    EXPECT_EQ(stroke(us, U'a', capsLock), (KeyStroke{named(us, "AC01"), {named(us, "LFSH")}}));
    // Caps Lock does not touch the digits.
    EXPECT_EQ(stroke(us, U'1', capsLock), (KeyStroke{named(us, "AE01"), {}}));
}

TEST_F(KeymapTest, SpareKeysCarryNothing) {
    const auto spare = us.spareKeycodes();
    EXPECT_GE(spare.size(), 8U);
    for (const Keycode keycode : spare) {
        EXPECT_GE(keycode, 8U);
        for (xkb_level_index_t level = 0; level < 4; ++level) {
            const xkb_keysym_t* syms = nullptr;
            EXPECT_EQ(xkb_keymap_key_get_syms_by_level(us.get(), keycode, 0, level, &syms), 0);
        }
    }
    EXPECT_THAT(spare, Not(Contains(named(us, "AC01"))));
}

TEST(KeysymTest, CharactersBecomeTheKeysymsXClientsExpect) {
    EXPECT_EQ(keysymForCharacter(U'a'), XKB_KEY_a);
    EXPECT_EQ(keysymForCharacter(U'\r'), XKB_KEY_Return);
    EXPECT_EQ(keysymForCharacter(U'\t'), XKB_KEY_Tab);
    EXPECT_EQ(keysymForCharacter(U'\u0000'), XKB_KEY_NoSymbol);
    EXPECT_EQ(keysymForCharacter(U'\u0085'), XKB_KEY_NoSymbol);
    EXPECT_EQ(keysymForCharacter(U'\u00F1'), XKB_KEY_ntilde);
    EXPECT_EQ(keysymForCharacter(U'\u20AC'), XKB_KEY_EuroSign);
    EXPECT_EQ(keysymForCharacter(U'\U0001F600'), 0x0101F600U);  // Unicode keysym
}

}  // namespace
}  // namespace vantrel
