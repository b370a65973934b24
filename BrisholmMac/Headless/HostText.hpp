#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

// The host name given on the command line, made fit for the welcome and the pairing link: bytes
// that are not valid UTF-8 (a name typed in a terminal with another encoding) become U+FFFD, as
// the JSON encoder would otherwise refuse the whole welcome and no phone could be greeted; then
// the text is cut to its first maxCharacters user-perceived characters.
[[nodiscard]] std::string hostNameFromArgument(std::string_view argument, std::size_t maxCharacters);

}  // namespace vantrel
