#include "Text.hpp"

#include <utf8proc.h>

namespace vantrel::Text {
namespace {

// Walks the string one grapheme cluster at a time and returns the byte offset at which cluster
// number `limit` starts (or the string's length when it has fewer), and how many clusters lie
// before that offset.
struct Cut {
    std::size_t byteOffset;
    std::size_t characters;
};

Cut findCut(std::string_view utf8, std::size_t limit) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
    const auto length = static_cast<utf8proc_ssize_t>(utf8.size());
    utf8proc_ssize_t offset = 0;
    std::size_t characters = 0;
    utf8proc_int32_t previous = -1;  // no code point yet: the first one always starts a cluster
    utf8proc_int32_t breakState = 0;
    while (offset < length) {
        utf8proc_int32_t codePoint = -1;
        utf8proc_ssize_t width = utf8proc_iterate(bytes + offset, length - offset, &codePoint);
        bool startsCluster = true;
        if (width < 1) {
            // An invalid byte stands alone: it ends the cluster before it and starts its own.
            width = 1;
            codePoint = -1;
            breakState = 0;
        } else if (previous >= 0) {
            startsCluster = utf8proc_grapheme_break_stateful(previous, codePoint, &breakState);
        }
        if (startsCluster) {
            if (characters == limit) {
                return {static_cast<std::size_t>(offset), characters};
            }
            ++characters;
        }
        previous = codePoint;
        offset += width;
    }
    return {utf8.size(), characters};
}

}  // namespace

std::string prefixCharacters(std::string_view utf8, std::size_t count) {
    return std::string(utf8.substr(0, findCut(utf8, count).byteOffset));
}

std::size_t characterCount(std::string_view utf8) {
    return findCut(utf8, static_cast<std::size_t>(-1)).characters;
}

}  // namespace vantrel::Text
