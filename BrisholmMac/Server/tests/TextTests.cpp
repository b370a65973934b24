#include <gtest/gtest.h>

#include <string>

#include "Text.hpp"

namespace vantrel {
namespace {

std::string repeat(const std::string& piece, std::size_t count) {
    std::string result;
    for (std::size_t i = 0; i < count; ++i) {
        result += piece;
    }
    return result;
}

struct CutCase {
    const char* name;
    std::string piece;  // one user-perceived character
};

class CharacterCutTest : public ::testing::TestWithParam<CutCase> {};

// Whatever a character is made of, a cut keeps whole characters: 100 of them become exactly the
// first 64, and a string of 64 or fewer comes back unchanged.
TEST_P(CharacterCutTest, KeepsWholeCharacters) {
    const auto& piece = GetParam().piece;
    EXPECT_EQ(Text::characterCount(piece), 1u);
    EXPECT_EQ(Text::prefixCharacters(repeat(piece, 100), 64), repeat(piece, 64));
    EXPECT_EQ(Text::prefixCharacters(repeat(piece, 64), 64), repeat(piece, 64));
    EXPECT_EQ(Text::prefixCharacters(repeat(piece, 3), 64), repeat(piece, 3));
    EXPECT_EQ(Text::characterCount(repeat(piece, 300)), 300u);
}

INSTANTIATE_TEST_SUITE_P(Characters, CharacterCutTest,
                         ::testing::Values(CutCase{"ascii", "a"}, CutCase{"twoByteLetter", "\xC3\xA9"},  // é
                                           CutCase{"combiningMarks", "e\xCC\x81\xCC\xA3"},           // e + two marks
                                           CutCase{"flag", "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"},      // DE
                                           CutCase{"skinTone", "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"},  // thumbs up
                                           CutCase{"zwjFamily",
                                                   "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"},        // woman+girl
                                           CutCase{"hangulJamo", "\xE1\x84\x80\xE1\x85\xA1\xE1\x86\xA8"},  // 각 in jamo
                                           CutCase{"crlf", "\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextTest, MixedStringCutsAtCharacterBoundaries) {
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";
    const std::string text = "ab" + flag + "c";
    EXPECT_EQ(Text::prefixCharacters(text, 0), "");
    EXPECT_EQ(Text::prefixCharacters(text, 2), "ab");
    EXPECT_EQ(Text::prefixCharacters(text, 3), "ab" + flag);
    EXPECT_EQ(Text::prefixCharacters(text, 4), text);
    EXPECT_EQ(Text::prefixCharacters("", 64), "");
}

TEST(TextTest, InvalidBytesCountOneEachAndAreNeverSplitIntoOthers) {
    const std::string text =
        "a\xFF\xFE"
        "b";
    EXPECT_EQ(Text::characterCount(text), 4u);
    EXPECT_EQ(Text::prefixCharacters(text, 2), "a\xFF");
    // A truncated sequence at the end is not read past the string.
    EXPECT_EQ(Text::characterCount("x\xF0\x9F"), 3u);
}

}  // namespace
}  // namespace vantrel
