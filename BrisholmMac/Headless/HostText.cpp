#include "Headless/HostText.hpp"

#include <utf8proc.h>

#include "Server/Text.hpp"

namespace vantrel {

namespace {

std::string repairedUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    const auto length = static_cast<utf8proc_ssize_t>(text.size());
    std::string repaired;
    repaired.reserve(text.size());
    utf8proc_ssize_t offset = 0;
    while (offset < length) {
        utf8proc_int32_t codePoint = -1;
        const utf8proc_ssize_t width = utf8proc_iterate(bytes + offset, length - offset, &codePoint);
        if (width < 1) {
            codePoint = 0xFFFD;  // one replacement character per unusable byte
        }
        utf8proc_uint8_t encoded[4];
        const utf8proc_ssize_t encodedLength = utf8proc_encode_char(codePoint, encoded);
        repaired.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(encodedLength));
        offset += width < 1 ? 1 : width;
    }
    return repaired;
}

}  // namespace

std::string hostNameFromArgument(std::string_view argument, std::size_t maxCharacters) {
    return Text::prefixCharacters(repairedUTF8(argument), maxCharacters);
}

}  // namespace vantrel
