// The pure parts under the GNOME backend's stream and input: frames made from damage, the changed
// box found by comparing, which layout GNOME types with, and how text the layout lacks is pasted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Backends/gnome/DamagedFrames.hpp"
#include "Backends/gnome/GnomeInput.hpp"
#include "Backends/gnome/RemoteClipboard.hpp"

namespace vantrel::gnome {
namespace {

// A BGRx picture of the compositor's, with rows padded as its buffers may be.
struct Screen {
    std::int32_t width;
    std::int32_t height;
    std::size_t stride;
    std::vector<std::uint8_t> bytes;

    Screen(std::int32_t w, std::int32_t h, std::uint8_t fill = 0)
        : width(w), height(h), stride(static_cast<std::size_t>(w) * 4 + 16), bytes(stride * h, fill) {}

    void paint(const PixelBox& box, std::uint8_t value) {
        for (std::int32_t y = box.y; y < box.y + box.height; ++y) {
            std::memset(bytes.data() + y * stride + box.x * 4, value, static_cast<std::size_t>(box.width) * 4);
        }
    }
    [[nodiscard]] ScreenPixels pixels() const { return {bytes.data(), stride, width, height}; }
    [[nodiscard]] bool shownBy(const PixelBuffer& frame) const {
        for (std::int32_t y = 0; y < height; ++y) {
            if (std::memcmp(frame.row(y).data(), bytes.data() + y * stride, static_cast<std::size_t>(width) * 4) != 0) {
                return false;
            }
        }
        return true;
    }
};

PixelBox changeOf(const PixelBuffer& frame) {
    const auto& change = frame.change();
    return change ? PixelBox{change->x, change->y, change->width, change->height} : PixelBox{-1, -1, -1, -1};
}

TEST(DamagedFrames, EachFrameShowsTheScreenAndSaysWhereItDiffersFromTheLast) {
    DamagedFrames frames;
    Screen screen(64, 48, 0x10);
    frames.reset(64, 48);
    auto first = frames.frame(screen.pixels());
    ASSERT_TRUE(first);
    EXPECT_TRUE(screen.shownBy(*first));
    EXPECT_FALSE(first->change()) << "nothing before it to differ from";

    screen.paint({4, 5, 10, 3}, 0x80);
    frames.damaged({4, 5, 10, 3});
    const auto second = frames.frame(screen.pixels());
    ASSERT_TRUE(second);
    EXPECT_TRUE(screen.shownBy(*second));
    EXPECT_EQ(second->change()->since, first->serial());
    EXPECT_EQ(changeOf(*second), (PixelBox{4, 5, 10, 3}));

    // Held by the encoder and the streamer, the first two buffers stay as they are; the third is
    // filled whole, the first again (once let go) by what it missed: both damages.
    screen.paint({30, 30, 2, 2}, 0x40);
    frames.damaged({30, 30, 2, 2});
    const auto third = frames.frame(screen.pixels());
    ASSERT_TRUE(third);
    EXPECT_TRUE(screen.shownBy(*third));
    EXPECT_EQ(changeOf(*third), (PixelBox{30, 30, 2, 2}));
    EXPECT_TRUE(Screen(64, 48, 0x10).shownBy(*first)) << "a lent frame is never written";
    EXPECT_FALSE(frames.frame(screen.pixels())) << "every buffer lent: the frame is lost, none overwritten";

    first.reset();
    screen.paint({60, 0, 4, 4}, 0x22);
    frames.damaged({60, 0, 70, 4});  // reaching past the edge: clipped
    const auto fourth = frames.frame(screen.pixels());
    ASSERT_TRUE(fourth);
    EXPECT_TRUE(screen.shownBy(*fourth));
    EXPECT_EQ(changeOf(*fourth), (PixelBox{60, 0, 4, 4}));
    EXPECT_EQ(fourth->change()->since, third->serial());
}

TEST(DamagedFrames, WithoutDamageTheChangeIsFoundByComparingWithTheLastFrame) {
    DamagedFrames frames;
    Screen screen(40, 30, 0x00);
    frames.reset(40, 30);
    frames.damageUnknown();
    auto last = frames.frame(screen.pixels());
    ASSERT_TRUE(last);
    EXPECT_TRUE(screen.shownBy(*last));

    screen.paint({7, 9, 5, 2}, 0xff);
    screen.paint({20, 20, 1, 1}, 0x01);
    frames.damageUnknown();
    auto next = frames.frame(screen.pixels());
    ASSERT_TRUE(next);
    EXPECT_TRUE(screen.shownBy(*next));
    EXPECT_EQ(changeOf(*next), (PixelBox{7, 9, 14, 12}));

    // The same picture again (a pointer-only buffer): nothing differs.
    last = std::move(next);
    frames.damageUnknown();
    next = frames.frame(screen.pixels());
    ASSERT_TRUE(next);
    EXPECT_TRUE(changeOf(*next).isEmpty());

    // A new size starts over: the whole picture.
    Screen larger(50, 30, 0x33);
    frames.reset(50, 30);
    EXPECT_FALSE(frames.frame(screen.pixels())) << "a picture of the old size is refused";
    frames.damageUnknown();
    const auto resized = frames.frame(larger.pixels());
    ASSERT_TRUE(resized);
    EXPECT_TRUE(larger.shownBy(*resized));
    EXPECT_FALSE(resized->change());
}

TEST(ChangedBox, FindsTheBoundsOfEveryDifferenceAndNothingForEqualPictures) {
    Screen before(16, 8);
    Screen after(16, 8);
    EXPECT_TRUE(changedBox(before.pixels(), after.pixels()).isEmpty());
    after.paint({0, 7, 1, 1}, 9);  // the last pixel's first byte
    EXPECT_EQ(changedBox(before.pixels(), after.pixels()), (PixelBox{0, 7, 1, 1}));
    after.paint({15, 0, 1, 1}, 9);
    EXPECT_EQ(changedBox(before.pixels(), after.pixels()), (PixelBox{0, 0, 16, 8}));
    // Only the padding after a row differs: the pictures are the same.
    Screen padded(16, 8);
    padded.bytes[16 * 4] = 0x77;
    EXPECT_TRUE(changedBox(before.pixels(), padded.pixels()).isEmpty());
    // One byte of one pixel (the unused fourth byte included).
    Screen alpha(16, 8);
    alpha.bytes[3 * alpha.stride + 5 * 4 + 3] = 1;
    EXPECT_EQ(changedBox(before.pixels(), alpha.pixels()), (PixelBox{5, 3, 1, 1}));
}

TEST(ActiveLayout, TheMostRecentlyUsedXkbSourceElseTheFirstConfigured) {
    const std::vector<InputSource> configured{{"ibus", "anthy"}, {"xkb", "de+nodeadkeys"}, {"xkb", "us"}};
    EXPECT_EQ(activeLayout({}, configured), (XkbLayout{"de", "nodeadkeys"}));
    EXPECT_EQ(activeLayout({{"xkb", "us"}, {"xkb", "de+nodeadkeys"}}, configured), (XkbLayout{"us", ""}));
    // An input method in front carries no layout: the next XKB source of the list does.
    EXPECT_EQ(activeLayout({{"ibus", "anthy"}, {"xkb", "fr+azerty"}}, configured), (XkbLayout{"fr", "azerty"}));
    EXPECT_FALSE(activeLayout({}, {}));
    EXPECT_FALSE(activeLayout({{"ibus", "anthy"}}, {{"xkb", ""}}));
}

TEST(SystemLayout, TheFirstOfLocaledsListsWithItsVariant) {
    EXPECT_EQ(systemLayout("de", ""), (XkbLayout{"de", ""}));
    EXPECT_EQ(systemLayout("de,us", "nodeadkeys,intl"), (XkbLayout{"de", "nodeadkeys"}));
    EXPECT_EQ(systemLayout("fr,us", ",intl"), (XkbLayout{"fr", ""}));
    EXPECT_FALSE(systemLayout("", "intl"));
    EXPECT_FALSE(systemLayout(",us", ""));
}

// Terminals paste on Ctrl+Shift+V and type Ctrl+V as a control character, GTK's fields ignore
// Ctrl+Shift+V and paste on Shift+Insert: that order, on whichever key types v.
TEST(PasteChords, TheTerminalsChordFirstOnTheKeyThatTypesV) {
    const XkbContextPtr context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    const auto chordsOn = [&](const char* layout, const char* variant = "") {
        const auto keymap = XkbKeymap::fromLayout(context.get(), layout, variant);
        return keymap ? pasteChords(*keymap) : std::vector<KeyStroke>{};
    };
    const auto us = XkbKeymap::fromLayout(context.get(), "us");
    ASSERT_TRUE(us);
    const auto control = us->modifierKeycode(ModifierKey::control);
    const auto shift = us->modifierKeycode(ModifierKey::shift);
    ASSERT_TRUE(control && shift);
    const KeyStroke shiftInsert{*us->keycodeForName("INS"), {*shift}};
    EXPECT_THAT(chordsOn("us"),
                ::testing::ElementsAre(KeyStroke{*us->keycodeForName("AB04"), {*control, *shift}}, shiftInsert));
    // Dvorak has v where QWERTY has period; a Cyrillic layout has no v, so V's place stands in.
    EXPECT_EQ(chordsOn("us", "dvorak").at(0).keycode, us->keycodeForName("AB09"));
    EXPECT_EQ(chordsOn("ru").at(0).keycode, us->keycodeForName("AB04"));
    EXPECT_EQ(chordsOn("de").at(1), shiftInsert);
}

// The compositor wrapped the types in a tuple: read as a plain list they came out as none, and the
// clipboard was never put back.
TEST(ClipboardContent, TheOwnersTypesAreReadInEitherShapeTheCompositorSends) {
    const auto typesOf = [](const char* text) {
        GVariant* options = g_variant_ref_sink(g_variant_new_parsed(text));
        auto types = announcedTypes(options);
        g_variant_unref(options);
        return types;
    };
    EXPECT_THAT(typesOf("{'mime-types': <(['text/plain', 'STRING', 'text/plain'],)>, 'session-is-owner': <false>}"),
                ::testing::ElementsAre("text/plain", "STRING"));
    EXPECT_THAT(typesOf("{'mime-types': <['UTF8_STRING']>}"), ::testing::ElementsAre("UTF8_STRING"));
    EXPECT_THAT(typesOf("{'session-is-owner': <true>}"), ::testing::IsEmpty());
    EXPECT_THAT(typesOf("{'mime-types': <'text/plain'>}"), ::testing::IsEmpty());
}

TEST(ClipboardContent, TextGoesInTheTypesApplicationsAskForAndIsReadBackAsUtf8) {
    const auto content = textContent("Gr\u00FC\u00DFe");
    ASSERT_EQ(content.size(), 5U);
    EXPECT_EQ(content[0], (std::pair<std::string, std::string>{"text/plain;charset=utf-8", "Gr\u00FC\u00DFe"}));
    EXPECT_EQ(content[1].first, "UTF8_STRING");
    // What GTK offers, and what the compositor keeps of it.
    EXPECT_EQ(textType({"text/plain", "text/plain;charset=utf-8", "STRING", "TEXT", "COMPOUND_TEXT", "UTF8_STRING"}),
              "text/plain;charset=utf-8");
    EXPECT_EQ(textType({"STRING", "UTF8_STRING"}), "UTF8_STRING");
    EXPECT_FALSE(textType({"image/png", "STRING"})) << "STRING is Latin-1; no text is safer than wrong text";
    EXPECT_FALSE(textType({}));
}

}  // namespace
}  // namespace vantrel::gnome
