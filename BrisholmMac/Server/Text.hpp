#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel::Text {

// The first `count` user-perceived characters of a UTF-8 string: grapheme clusters as Unicode
// defines them, so an emoji with its modifiers, a flag or a letter with combining marks counts as
// one character and is never split. A shorter string comes back whole. Names and identifiers that
// arrive from the phone are cut with this before they reach the rest of the host.
//
// Bytes that are not valid UTF-8 count as one character each and are copied unchanged; the JSON
// decoder never lets them through, but the cut must not depend on that.
//
// A pure function: callable from any thread.
[[nodiscard]] std::string prefixCharacters(std::string_view utf8, std::size_t count);

// The number of user-perceived characters, counted as prefixCharacters counts them.
[[nodiscard]] std::size_t characterCount(std::string_view utf8);

}  // namespace vantrel::Text
