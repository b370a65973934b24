#include "vantrel/PairingInfo.hpp"

#include <openssl/evp.h>
#include <sys/random.h>
#include <uriparser/Uri.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <map>
#include <memory>

namespace vantrel {
namespace {

constexpr std::string_view linkHost = "pair";
constexpr std::string_view nameWhenAbsent = "Mac";

struct QueryListDeleter {
    void operator()(UriQueryListA* list) const { uriFreeQueryListA(list); }
};
using QueryList = std::unique_ptr<UriQueryListA, QueryListDeleter>;

// uriparser keeps its results in a struct it fills, so the guard wraps the struct itself.
struct ParsedUri {
    UriUriA uri{};
    ~ParsedUri() { uriFreeUriMembersA(&uri); }
};

std::string_view textOf(const UriTextRangeA& range) {
    if (range.first == nullptr || range.afterLast == nullptr) {
        return {};
    }
    return {range.first, static_cast<std::size_t>(range.afterLast - range.first)};
}

bool isPresent(const UriTextRangeA& range) {
    return range.first != nullptr;
}

// Percent-encodes for the query component: everything but the unreserved characters, so
// "&", "=", "#", "%", "+" and spaces inside a name or value parse back as themselves, while the
// URL-safe Base64 alphabet ("-", "_" and alphanumerics) stays as it is.
std::string escaped(std::string_view text) {
    std::string out(text.size() * 3 + 1, '\0');
    const char* end = uriEscapeExA(text.data(), text.data() + text.size(), out.data(), URI_FALSE, URI_FALSE);
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

std::string urlSafeBase64(const Bytes& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    std::replace(text.begin(), text.end(), '+', '-');
    std::replace(text.begin(), text.end(), '/', '_');
    std::erase(text, '=');
    return text;
}

bool isStandardBase64Symbol(char symbol) {
    return (symbol >= 'A' && symbol <= 'Z') || (symbol >= 'a' && symbol <= 'z') || (symbol >= '0' && symbol <= '9') ||
           symbol == '+' || symbol == '/';
}

// Accepts the key in either Base64 alphabet, with or without padding. Strict: OpenSSL's block
// decoder would skip surrounding white space, so the text is checked symbol by symbol first and
// nothing is ever ignored.
std::optional<Bytes> decodeKey(std::string text) {
    std::replace(text.begin(), text.end(), '-', '+');
    std::replace(text.begin(), text.end(), '_', '/');
    while (text.size() % 4 != 0) {
        text.push_back('=');
    }
    const std::size_t symbols = text.find_last_not_of('=') + 1;  // 0 for an all-padding text
    const std::size_t padding = text.size() - symbols;
    if (text.empty() || padding > 2 ||
        !std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(symbols), isStandardBase64Symbol)) {
        return std::nullopt;
    }
    Bytes bytes(text.size() / 4 * 3);
    const int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0 || static_cast<std::size_t>(length) != bytes.size()) {
        return std::nullopt;
    }
    bytes.resize(bytes.size() - padding);  // the block decoder counts padding as zero bytes
    return bytes;
}

std::optional<std::uint16_t> decimalPort(std::string_view text) {
    std::uint16_t port = 0;
    const auto* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, port);
    if (text.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return port;
}

std::vector<std::string> splitHosts(std::string_view text) {
    std::vector<std::string> hosts;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view piece = text.substr(0, comma);
        if (!piece.empty()) {
            hosts.emplace_back(piece);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return hosts;
}

// Items in their order of appearance: a later item replaces an earlier one of the same name,
// and an item written without "=" removes the name.
std::optional<std::map<std::string, std::string, std::less<>>> foldedQuery(const UriTextRangeA& query) {
    std::map<std::string, std::string, std::less<>> items;
    if (!isPresent(query) || query.first == query.afterLast) {
        return items;
    }
    // uriparser hands back C strings, so an encoded NUL would silently cut a name or value short
    // (a key followed by "%00" and junk would pass as the key alone). No link we build carries
    // one, so such a link is refused rather than read differently from what it says.
    const std::string_view text = textOf(query);
    for (std::size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1)) {
        if (text.substr(at + 1, 2) == "00") {
            return std::nullopt;
        }
    }
    UriQueryListA* raw = nullptr;
    int count = 0;
    if (uriDissectQueryMallocExA(&raw, &count, query.first, query.afterLast, URI_FALSE, URI_BR_DONT_TOUCH) !=
        URI_SUCCESS) {
        return std::nullopt;
    }
    const QueryList list(raw);
    for (const UriQueryListA* item = list.get(); item != nullptr; item = item->next) {
        if (item->value == nullptr) {
            items.erase(std::string(item->key));
        } else {
            items.insert_or_assign(item->key, item->value);
        }
    }
    return items;
}

}  // namespace

Bytes PairingInfo::generateKey() {
    Bytes key(keyLength);
    std::size_t filled = 0;
    while (filled < key.size()) {
        const ssize_t count = getrandom(key.data() + filled, key.size() - filled, 0);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Without the kernel's random source there is no safe key to give; a predictable
            // one would let anyone on the network in.
            std::abort();
        }
        filled += static_cast<std::size_t>(count);
    }
    return key;
}

std::string PairingInfo::url() const {
    std::string hostList;
    for (std::size_t index = 0; index < hosts.size(); ++index) {
        if (index > 0) {
            hostList.push_back(',');
        }
        hostList += escaped(hosts[index]);  // item by item: the separating commas stay literal
    }
    std::string link;
    link.append(scheme).append("://").append(linkHost);
    link.append("?v=1");
    link.append("&name=").append(escaped(name));
    link.append("&port=").append(std::to_string(port));
    link.append("&hosts=").append(hostList);
    link.append("&key=").append(urlSafeBase64(key));
    return link;
}

std::optional<PairingInfo> PairingInfo::fromURL(std::string_view link) {
    ParsedUri parsed;
    const char* errorPosition = nullptr;
    if (uriParseSingleUriExA(&parsed.uri, link.data(), link.data() + link.size(), &errorPosition) != URI_SUCCESS) {
        return std::nullopt;
    }
    if (!isPresent(parsed.uri.scheme) || textOf(parsed.uri.scheme) != scheme) {
        return std::nullopt;
    }
    if (!isPresent(parsed.uri.hostText) || textOf(parsed.uri.hostText) != linkHost) {
        return std::nullopt;
    }
    const auto items = foldedQuery(parsed.uri.query);
    if (!items) {
        return std::nullopt;
    }

    const auto port = items->find("port");
    if (port == items->end()) {
        return std::nullopt;
    }
    const auto portNumber = decimalPort(port->second);
    if (!portNumber) {
        return std::nullopt;
    }

    const auto keyText = items->find("key");
    if (keyText == items->end()) {
        return std::nullopt;
    }
    auto key = decodeKey(keyText->second);
    if (!key || key->size() != keyLength) {
        return std::nullopt;
    }

    const auto hosts = items->find("hosts");
    const auto name = items->find("name");
    return PairingInfo{
        .name = name == items->end() ? std::string(nameWhenAbsent) : name->second,
        .port = *portNumber,
        .hosts = hosts == items->end() ? std::vector<std::string>{} : splitHosts(hosts->second),
        .key = std::move(*key),
    };
}

}  // namespace vantrel
