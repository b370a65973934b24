#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Cuts text (UTF-8) into the pieces the injector types one after the other: at most 16 UTF-16 code
// units each, as the phone's protocol counts text, and never between the two halves of a character
// beyond the Basic Multilingual Plane. Bytes that are not UTF-8 are left out.
[[nodiscard]] std::vector<std::u32string> textChunks(std::string_view utf8);

inline constexpr std::size_t textChunkUnits = 16;

}  // namespace vantrel
