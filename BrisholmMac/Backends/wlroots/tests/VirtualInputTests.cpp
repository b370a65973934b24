// The wlroots input device's pure rules: the keymap its virtual keyboard types with, and the codes
// and steps its keys, buttons and wheel become.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Backends/wlroots/VirtualInput.hpp"
#include "Input/XkbKeymap.hpp"

namespace vantrel::wayland {
namespace {

struct Desk {
    XkbContextPtr context{xkb_context_new(XKB_CONTEXT_NO_FLAGS)};
    std::optional<XkbKeymap> keymap;
    std::string text;

    explicit Desk(const char* layout) {
        keymap = XkbKeymap::fromLayout(context.get(), layout);
        char* dumped = xkb_keymap_get_as_string(keymap->get(), XKB_KEYMAP_FORMAT_TEXT_V1);
        text = dumped;
        std::free(dumped);
    }

    [[nodiscard]] XkbKeymapPtr compile(const std::string& source) const {
        return XkbKeymapPtr(xkb_keymap_new_from_string(context.get(), source.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                       XKB_KEYMAP_COMPILE_NO_FLAGS));
    }
};

// Every keysym of every level of a key, in order.
std::vector<xkb_keysym_t> symbolsOf(xkb_keymap* keymap, Keycode keycode) {
    std::vector<xkb_keysym_t> all;
    for (xkb_layout_index_t layout = 0; layout < xkb_keymap_num_layouts_for_key(keymap, keycode); ++layout) {
        for (xkb_level_index_t level = 0; level < xkb_keymap_num_levels_for_key(keymap, keycode, layout); ++level) {
            const xkb_keysym_t* syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, level, &syms);
            all.insert(all.end(), syms, syms + count);
        }
    }
    return all;
}

// A key lent to a character types it at any level: Shift held at the desk must not change it.
xkb_keysym_t typedWith(xkb_keymap* keymap, Keycode keycode, bool shift) {
    const XkbStatePtr state(xkb_state_new(keymap));
    if (shift) {
        const auto shiftKey = xkb_keymap_key_by_name(keymap, "LFSH");
        xkb_state_update_key(state.get(), shiftKey, XKB_KEY_DOWN);
    }
    return xkb_state_key_get_one_sym(state.get(), keycode);
}

TEST(TypingKeymapTest, LentKeysTypeTheirCharactersAndEveryOtherKeyStaysAsTheDesksLayoutHasIt) {
    for (const char* layout : {"us", "de"}) {
        SCOPED_TRACE(layout);
        const Desk desk(layout);
        const auto spare = desk.keymap->spareKeycodes();
        ASSERT_GE(spare.size(), 16U) << "a text chunk's worth of empty keys";
        // An empty key the keymap names, and a key code it leaves unnamed (93 in xkeyboard-config's
        // evdev codes), which needs a name of its own.
        const Keycode named = spare.back();
        const Keycode unnamed = 93;
        ASSERT_NE(xkb_keymap_key_get_name(desk.keymap->get(), named), nullptr);
        ASSERT_EQ(xkb_keymap_key_get_name(desk.keymap->get(), unnamed), nullptr);
        ASSERT_THAT(spare, ::testing::Contains(unnamed));
        const std::map<Keycode, xkb_keysym_t> bindings{{unnamed, 0x1004E2D /* U+4E2D */},
                                                       {named, 0x101F600 /* an emoji */}};
        const auto text = typingKeymap(desk.text, desk.keymap->get(), bindings);
        ASSERT_TRUE(text);
        const auto typing = desk.compile(*text);
        ASSERT_TRUE(typing) << "the compositor could not compile it either";

        for (const auto& [keycode, keysym] : bindings) {
            EXPECT_EQ(typedWith(typing.get(), keycode, false), keysym) << keycode;
            EXPECT_EQ(typedWith(typing.get(), keycode, true), keysym) << keycode;
        }
        EXPECT_STREQ(xkb_keymap_key_get_name(typing.get(), named), xkb_keymap_key_get_name(desk.keymap->get(), named));
        for (Keycode keycode = 8; keycode <= 255; ++keycode) {
            if (!bindings.contains(keycode)) {
                ASSERT_EQ(symbolsOf(typing.get(), keycode), symbolsOf(desk.keymap->get(), keycode)) << keycode;
            }
        }
        EXPECT_EQ(xkb_keymap_num_layouts(typing.get()), xkb_keymap_num_layouts(desk.keymap->get()));
    }
}

TEST(TypingKeymapTest, OurUploadsCarryOurMarkAndTheDesksDoNot) {
    const Desk desk("de");
    EXPECT_FALSE(isOurKeymap(desk.text));
    const auto plain = typingKeymap(desk.text, desk.keymap->get(), {});
    ASSERT_TRUE(plain);
    EXPECT_TRUE(isOurKeymap(plain->substr(0, 200)));

    // The compositor compiles our upload and hands it to clients in its own words: the mark stays.
    const auto compiled = desk.compile(*plain);
    ASSERT_TRUE(compiled);
    char* handedOut = xkb_keymap_get_as_string(compiled.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
    EXPECT_TRUE(isOurKeymap(handedOut));
    std::free(handedOut);

    EXPECT_FALSE(isOurKeymap("xkb_keymap {\nxkb_keycodes \"vantrel-phone-not\" {"));
    EXPECT_FALSE(isOurKeymap("xkb_keymap {\nxkb_keycodes {\n<ESC> = 9; // \"vantrel-phone\""));
    EXPECT_FALSE(typingKeymap("not a keymap", desk.keymap->get(), {}));
}

TEST(VirtualCodesTest, KeysAndButtonsBecomeLinuxInputCodes) {
    EXPECT_EQ(evdevKeycode(38), 30U);  // the key right of Caps Lock: KEY_A
    EXPECT_EQ(evdevKeycode(8), 0U);
    EXPECT_EQ(evdevKeycode(7), std::nullopt);

    EXPECT_EQ(evdevButton(pointerButton::left), 0x110U);
    EXPECT_EQ(evdevButton(pointerButton::right), 0x111U);
    EXPECT_EQ(evdevButton(pointerButton::middle), 0x112U);
    EXPECT_EQ(evdevButton(pointerButton::wheelUp), std::nullopt);

    EXPECT_EQ(wheelStep(pointerButton::wheelUp), (WheelStep{0, -1, -15}));
    EXPECT_EQ(wheelStep(pointerButton::wheelDown), (WheelStep{0, 1, 15}));
    EXPECT_EQ(wheelStep(pointerButton::wheelLeft), (WheelStep{1, -1, -15}));
    EXPECT_EQ(wheelStep(pointerButton::wheelRight), (WheelStep{1, 1, 15}));
    EXPECT_EQ(wheelStep(pointerButton::left), std::nullopt);
}

TEST(VirtualPointerTest, AbsoluteMotionSpansTheBoxAroundAllOutputs) {
    // A laptop panel left of and below the top of a larger monitor.
    const auto box = layoutBox({{-1280, 200, 1280, 800}, {0, 0, 1920, 1080}, {}});
    ASSERT_EQ(box, (Rect{-1280, 0, 3200, 1080}));
    EXPECT_EQ(absoluteMotion({-1280, 200}, *box), (AbsoluteMotion{0, 200, 3200, 1080}));
    EXPECT_EQ(absoluteMotion({100.4, 50.6}, *box), (AbsoluteMotion{1380, 51, 3200, 1080}));
    EXPECT_EQ(absoluteMotion({5000, -40}, *box), (AbsoluteMotion{3199, 0, 3200, 1080})) << "kept inside";
    EXPECT_EQ(absoluteMotion({0, 0}, Rect{}), std::nullopt);
    EXPECT_EQ(layoutBox({}), std::nullopt);
}

}  // namespace
}  // namespace vantrel::wayland
