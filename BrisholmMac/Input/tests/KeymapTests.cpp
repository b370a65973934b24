#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "Input/KeyPositions.hpp"
#include "Input/XkbKeymap.hpp"

namespace vantrel {
namespace {

using ::testing::Contains;
using ::testing::Not;

// Keymaps compiled from layout names with the system's XKB data, as a desktop would load them.
class KeymapTest : public ::testing::Test {
protected:
    XkbContextPtr context{xkb_context_new(XKB_CONTEXT_NO_FLAGS)};
    XkbKeymap us = XkbKeymap::fromLayout(context.get(), "us").value();
    XkbKeymap german = XkbKeymap::fromLayout(context.get(), "de").value();

    static Keycode named(const XkbKeymap& keymap, std::string_view name) {
        return keymap.keycodeForName(name).value_or(0);
    }
    static std::optional<KeyStroke> stroke(const XkbKeymap& keymap, char32_t character, xkb_mod_mask_t locked = 0) {
        return keymap.strokeFor(keysymForCharacter(character), 0, locked);
    }
};

TEST_F(KeymapTest, EveryPhoneKeyHasItsPlaceOnAPcKeyboard) {
    const auto table = keyPositions();
    EXPECT_EQ(std::ranges::adjacent_find(table, std::ranges::greater_equal{}, &KeyPosition::code), table.end());
    for (const auto& position : table) {
        EXPECT_TRUE(us.keycodeForName(position.keyName)) << position.keyName;
        EXPECT_EQ(keyPosition(position.code)->keyName, position.keyName);
    }
    // The left modifier keys of the table are the ones the injector presses for a modifier.
    for (const std::uint16_t code : {0x37, 0x38, 0x3A, 0x3B}) {
        EXPECT_EQ(us.modifierKeycode(*keyPosition(code)->modifier), us.keycodeForName(keyPosition(code)->keyName));
    }
    EXPECT_FALSE(keyPosition(0x3F));  // Function
}

TEST_F(KeymapTest, TheDesktopsLayoutDecidesWhatAPlaceTypes) {
    // The phone's "Z" place is the key right of the left Shift: "z" in the US, "y" in Germany.
    const Keycode zPlace = named(us, keyPosition(0x06)->keyName);
    EXPECT_EQ(stroke(us, U'z'), (KeyStroke{zPlace, {}}));
    EXPECT_EQ(stroke(german, U'y'), (KeyStroke{zPlace, {}}));
}

TEST_F(KeymapTest, CharactersAreFoundOnAnyLevelWithTheModifiersTheyNeed) {
    EXPECT_EQ(stroke(us, U'a'), (KeyStroke{named(us, "AC01"), {}}));
    EXPECT_EQ(stroke(us, U'A'), (KeyStroke{named(us, "AC01"), {named(us, "LFSH")}}));
    EXPECT_EQ(stroke(us, U'\n'), (KeyStroke{named(us, "RTRN"), {}}));
    EXPECT_FALSE(stroke(us, U'\u00FC'));                        // no ü in the US layout
    EXPECT_FALSE(stroke(us, U'\x01'));                          // control characters have no key
    EXPECT_EQ(keysymForCharacter(U'\U0001F600'), 0x0101F600U);  // beyond Latin: a Unicode keysym

    // German: ü has a key of its own, € and @ are on AltGr levels.
    EXPECT_EQ(stroke(german, U'\u00FC'), (KeyStroke{named(german, "AD11"), {}}));
    const auto euro = stroke(german, U'\u20AC');
    const auto at = stroke(german, U'@');
    ASSERT_TRUE(euro && at);
    EXPECT_EQ(euro->keycode, named(german, "AD03"));
    EXPECT_EQ(at->keycode, named(german, "AD01"));
    ASSERT_EQ(euro->modifiers.size(), 1U);
    EXPECT_EQ(at->modifiers, euro->modifiers);
    EXPECT_THAT(euro->modifiers, Not(Contains(named(german, "LFSH"))));
}

TEST_F(KeymapTest, LockedCapsLockIsTakenIntoAccount) {
    const xkb_mod_mask_t capsLock = 1U << xkb_keymap_mod_get_index(us.get(), XKB_MOD_NAME_CAPS);
    EXPECT_EQ(stroke(us, U'A', capsLock), (KeyStroke{named(us, "AC01"), {}}));
    EXPECT_EQ(stroke(us, U'a', capsLock), (KeyStroke{named(us, "AC01"), {named(us, "LFSH")}}));
    EXPECT_EQ(stroke(us, U'1', capsLock), (KeyStroke{named(us, "AE01"), {}}));
}

TEST_F(KeymapTest, SpareKeysCarryNothing) {
    const auto spare = us.spareKeycodes();
    EXPECT_GE(spare.size(), 8U);
    for (const Keycode keycode : spare) {
        EXPECT_GE(keycode, 8U);
        const xkb_keysym_t* syms = nullptr;
        EXPECT_EQ(xkb_keymap_key_get_syms_by_level(us.get(), keycode, 0, 0, &syms), 0);
    }
    EXPECT_THAT(spare, Not(Contains(named(us, "AC01"))));
}

}  // namespace
}  // namespace vantrel
