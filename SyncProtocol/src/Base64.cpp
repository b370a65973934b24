#include "Base64.hpp"

#include <openssl/evp.h>

#include <climits>

namespace vantrel::base64 {
namespace {

bool isAlphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

std::optional<std::string> encode(ByteView data) {
    if (data.size() > static_cast<std::size_t>(INT_MAX / 4) * 3) {
        return std::nullopt;
    }
    const std::size_t length = (data.size() + 2) / 3 * 4;
    std::string text(length + 1, '\0');  // EVP_EncodeBlock writes a terminating NUL
    const int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data.data(), static_cast<int>(data.size()));
    if (written < 0 || static_cast<std::size_t>(written) != length) {
        return std::nullopt;
    }
    text.resize(length);
    return text;
}

std::optional<Bytes> decode(std::string_view text) {
    // EVP_DecodeBlock alone is too lenient for a wire format: it skips surrounding whitespace and
    // counts padding as decoded zero bytes. The checks here make it accept exactly one spelling.
    if (text.size() % 4 != 0 || text.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        if (!isAlphabet(text[i])) {
            return std::nullopt;
        }
    }
    if (text.empty()) {
        return Bytes{};
    }
    Bytes data(text.size() / 4 * 3);
    const int decoded = EVP_DecodeBlock(data.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    if (decoded < 0 || static_cast<std::size_t>(decoded) != data.size()) {
        return std::nullopt;
    }
    data.resize(data.size() - padding);
    return data;
}

}  // namespace vantrel::base64
