#include <gtest/gtest.h>

#include <random>
#include <string>

#include "vantrel/PairingInfo.hpp"

namespace vantrel {

// Readable failures; a test key is no secret.
void PrintTo(const PairingInfo& info, std::ostream* out) {
    *out << "{name \"" << info.name << "\", port " << info.port << ", " << info.hosts.size() << " hosts, key of "
         << info.key.size() << " bytes}";
}

namespace {

// A valid link's key: 32 bytes 0x00..0x1F in the URL-safe alphabet, and the same bytes in the
// standard alphabet with padding.
const std::string keyText = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8";
Bytes countingKey() {
    Bytes key(PairingInfo::keyLength);
    for (std::size_t index = 0; index < key.size(); ++index) {
        key[index] = static_cast<std::uint8_t>(index);
    }
    return key;
}

// countingKey() with its first bytes replaced.
Bytes keyStartingWith(std::initializer_list<std::uint8_t> start) {
    Bytes key = countingKey();
    std::copy(start.begin(), start.end(), key.begin());
    return key;
}

std::string linkWith(const std::string& query) {
    return "vantrel://pair?" + query;
}

TEST(PairingInfoTest, LinkHasTheFixedShape) {
    const PairingInfo info{"Büro & Co", 47823, {"192.168.1.2", "10.0.0.7"}, countingKey()};
    EXPECT_EQ(info.url(),
              "vantrel://pair?v=1&name=B%C3%BCro%20%26%20Co&port=47823&hosts=192.168.1.2,10.0.0.7&key=" + keyText);
    const PairingInfo empty{"", 0, {}, countingKey()};
    EXPECT_EQ(empty.url(), "vantrel://pair?v=1&name=&port=0&hosts=&key=" + keyText);
}

// Any text but an empty one or one with the separating comma survives as a host entry.
std::string hostLike(std::string text) {
    std::erase(text, ',');
    return text + "h";
}

// Random keys exercise every Base64 symbol, "-" and "_" included; the names and hosts carry
// every character the query component reserves.
TEST(PairingInfoTest, RandomValuesSurviveTheLink) {
    const std::vector<std::string> names = {
        "",    "Mac",  "a b",        "x&port=1", "a=b",           "#frag", "100%",  "%41",        "plus+sign",
        "Bü😀", "?/:@", "semi;colon", "tab\t",    "comma,in name", "'\"",   "[::1]", "~-._all ok", "\\",
    };
    std::mt19937 random(1234);  // NOLINT(cert-msc32-c): reproducible test data
    for (std::size_t round = 0; round < 200; ++round) {
        Bytes key(PairingInfo::keyLength);
        for (auto& byte : key) {
            byte = static_cast<std::uint8_t>(random());
        }
        const PairingInfo info{names[round % names.size()],
                               static_cast<std::uint16_t>(random()),
                               {hostLike(names[(round + 3) % names.size()]), "fe80::1%eth0", "host&=#"},
                               key};
        const auto parsed = PairingInfo::fromURL(info.url());
        ASSERT_TRUE(parsed.has_value()) << info.url();
        EXPECT_EQ(*parsed, info) << info.url();
    }
}

TEST(PairingInfoTest, EmptyHostListRoundTrips) {
    const PairingInfo info{"Mac", 1, {}, countingKey()};
    EXPECT_EQ(PairingInfo::fromURL(info.url()), info);
}

struct Accepted {
    std::string link;
    PairingInfo expected;
};

class PairingLinkAccepted : public ::testing::TestWithParam<Accepted> {};

TEST_P(PairingLinkAccepted, GivesTheExpectedValue) {
    const auto parsed = PairingInfo::fromURL(GetParam().link);
    ASSERT_TRUE(parsed.has_value()) << GetParam().link;
    EXPECT_EQ(*parsed, GetParam().expected);
}

const std::string standardKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

INSTANTIATE_TEST_SUITE_P(
    PairingInfoTest, PairingLinkAccepted,
    ::testing::Values(
        // The minimum: port and key. The name falls back to "Mac", the host list is empty.
        Accepted{linkWith("port=5&key=" + keyText), {"Mac", 5, {}, countingKey()}},
        // An empty name stays empty; port 0 and 65535 are both ports.
        Accepted{linkWith("name=&port=0&key=" + keyText), {"", 0, {}, countingKey()}},
        Accepted{linkWith("port=65535&key=" + keyText), {"Mac", 65535, {}, countingKey()}},
        // Padding and the standard alphabet are restored before decoding; "+" stays a plus.
        Accepted{linkWith("port=1&key=" + standardKey), {"Mac", 1, {}, countingKey()}},
        Accepted{linkWith("port=1&key=-_-_" + keyText.substr(4)), {"Mac", 1, {}, keyStartingWith({0xFB, 0xFF, 0xBF})}},
        Accepted{linkWith("port=1&key=+/+/" + keyText.substr(4)), {"Mac", 1, {}, keyStartingWith({0xFB, 0xFF, 0xBF})}},
        // Empty host pieces are dropped.
        Accepted{linkWith("port=1&hosts=,a,,b,&key=" + keyText), {"Mac", 1, {"a", "b"}, countingKey()}},
        // Later items win; an item without "=" removes only its own name.
        Accepted{linkWith("port=1&port=2&key=" + keyText), {"Mac", 2, {}, countingKey()}},
        Accepted{linkWith("name=A&name&port=1&key=" + keyText), {"Mac", 1, {}, countingKey()}},
        Accepted{linkWith("port&port=3&key=" + keyText), {"Mac", 3, {}, countingKey()}},
        // The version and unknown items are ignored; so is a path after the host.
        Accepted{"vantrel://pair/extra/path?v=99&x=y&port=1&key=" + keyText, {"Mac", 1, {}, countingKey()}},
        Accepted{linkWith("v&port=1&key=" + keyText + "#fragment"), {"Mac", 1, {}, countingKey()}}));

class PairingLinkRefused : public ::testing::TestWithParam<std::string> {};

TEST_P(PairingLinkRefused, GivesNoValue) {
    EXPECT_FALSE(PairingInfo::fromURL(GetParam()).has_value()) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    PairingInfoTest, PairingLinkRefused,
    ::testing::Values(
        // Not a link, or not ours: scheme and host compare exactly.
        "", "pair", "vantrel:", "vantrel:pair?port=1&key=" + keyText, "Vantrel://pair?port=1&key=" + keyText,
        "vantrel://Pair?port=1&key=" + keyText, "https://pair?port=1&key=" + keyText,
        "vantrel://pairing?port=1&key=" + keyText, "vantrel://pair?port=1&key=" + keyText + " trailing",
        // Key: missing, removed, 31 and 33 bytes, foreign symbols, length remainder 1, padding inside.
        linkWith("port=1"), linkWith("port=1&key=" + keyText + "&key"), linkWith("port=1&key="),
        linkWith("port=1&key=" + keyText.substr(0, 42)),  // 31 bytes
        linkWith("port=1&key=" + keyText + "AA"),         // 33 bytes
        linkWith("port=1&key=" + keyText.substr(0, 42) + "*"), linkWith("port=1&key=" + keyText.substr(0, 42) + "."),
        linkWith("port=1&key=" + keyText.substr(0, 42) + "%20"), linkWith("port=1&key=%20" + keyText),
        linkWith("port=1&key=" + keyText + "A"),  // remainder 1 after 44 symbols
        linkWith("port=1&key=" + keyText.substr(0, 20) + "=" + keyText.substr(21)),
        linkWith("port=1&key=" + keyText + "===="),
        // An encoded NUL would cut the text short: the key would pass without its junk.
        linkWith("port=1&key=" + keyText + "%00junk"), linkWith("name=a%00b&port=1&key=" + keyText),
        // Port: missing, removed by a later item without "=", empty, too large, not decimal.
        linkWith("key=" + keyText), linkWith("port=1&port&key=" + keyText), linkWith("port=&key=" + keyText),
        linkWith("port=70000&key=" + keyText), linkWith("port=65536&key=" + keyText),
        linkWith("port=12a&key=" + keyText), linkWith("port=-1&key=" + keyText), linkWith("port=%201&key=" + keyText),
        linkWith("port=0x10&key=" + keyText)));

TEST(PairingInfoTest, FreshKeysAreFullLengthAndDiffer) {
    const Bytes first = PairingInfo::generateKey();
    const Bytes second = PairingInfo::generateKey();
    EXPECT_EQ(first.size(), PairingInfo::keyLength);
    EXPECT_EQ(second.size(), PairingInfo::keyLength);
    EXPECT_NE(first, second);
}

}  // namespace
}  // namespace vantrel
