#include "Input/TypedText.hpp"

#include <utf8proc.h>

namespace vantrel {

std::u32string decodedText(std::string_view utf8) {
    std::u32string text;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
    std::size_t at = 0;
    while (at < utf8.size()) {
        utf8proc_int32_t codePoint = 0;
        const auto length = utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(utf8.size() - at), &codePoint);
        if (length <= 0) {
            ++at;  // not UTF-8: skip the byte and read on
            continue;
        }
        at += static_cast<std::size_t>(length);
        text.push_back(static_cast<char32_t>(codePoint));
    }
    return text;
}

std::vector<std::u32string> textChunks(std::u32string_view text) {
    std::vector<std::u32string> chunks;
    std::u32string chunk;
    std::size_t chunkUnits = 0;
    for (const char32_t character : text) {
        const std::size_t units = character > 0xFFFF ? 2 : 1;
        if (chunkUnits + units > textChunkUnits) {
            chunks.push_back(std::move(chunk));
            chunk.clear();
            chunkUnits = 0;
        }
        chunk.push_back(character);
        chunkUnits += units;
    }
    if (!chunk.empty()) {
        chunks.push_back(std::move(chunk));
    }
    return chunks;
}

std::vector<std::u32string> textChunks(std::string_view utf8) {
    return textChunks(std::u32string_view(decodedText(utf8)));
}

namespace {

bool isControl(char32_t character) {
    return character < 0x20 || (character >= 0x7F && character < 0xA0);
}

}  // namespace

std::vector<TextRun> textRuns(std::u32string_view text, const std::function<bool(char32_t)>& typable) {
    std::vector<TextRun> runs;
    for (const char32_t character : text) {
        const bool pasted = !typable(character);
        if (pasted && isControl(character)) {
            continue;
        }
        if (runs.empty() || runs.back().pasted != pasted) {
            runs.push_back({{}, pasted});
        }
        runs.back().text.push_back(character);
    }
    return runs;
}

std::string utf8Text(std::u32string_view text) {
    std::string utf8;
    for (const char32_t character : text) {
        utf8proc_uint8_t bytes[4];
        const auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(character), bytes);
        utf8.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    }
    return utf8;
}

}  // namespace vantrel
