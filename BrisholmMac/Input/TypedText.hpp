#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// text (UTF-8) as characters; bytes that are not UTF-8 are left out.
[[nodiscard]] std::u32string decodedText(std::string_view utf8);

// Cuts text into the pieces the injector types one after the other: at most 16 UTF-16 code units
// each, as the phone's protocol counts text, and never between the two halves of a character
// beyond the Basic Multilingual Plane.
[[nodiscard]] std::vector<std::u32string> textChunks(std::u32string_view text);
// The same for text in UTF-8, whose bytes that are not UTF-8 are left out.
[[nodiscard]] std::vector<std::u32string> textChunks(std::string_view utf8);

inline constexpr std::size_t textChunkUnits = 16;

// A stretch of text that goes in one way: typed on the keymap's keys, or pasted in one piece.
struct TextRun {
    std::u32string text;
    bool pasted = false;

    bool operator==(const TextRun&) const = default;
};

// Splits text, in order, into runs of characters the keymap types (typable) and runs of characters
// it lacks, which a device that pastes text takes as one piece each. A control character the keymap
// has no key for is left out: pasted into a terminal it would act as a command, not a character.
[[nodiscard]] std::vector<TextRun> textRuns(std::u32string_view text, const std::function<bool(char32_t)>& typable);

// text as UTF-8.
[[nodiscard]] std::string utf8Text(std::u32string_view text);

}  // namespace vantrel
