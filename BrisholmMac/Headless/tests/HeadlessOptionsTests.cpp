#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Headless/HeadlessOptions.hpp"
#include "Server/Text.hpp"

namespace vantrel {
namespace {

HeadlessOptions parse(std::vector<std::string_view> arguments) {
    return parseHeadlessOptions(arguments);
}

struct PortCase {
    const char* label;
    std::vector<std::string_view> arguments;
    std::uint16_t port;
};

class PortOption : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortOption, GivesThePortOrZero) {
    EXPECT_EQ(parse(GetParam().arguments).preferredPort, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PortOption,
    ::testing::Values(
        PortCase{"absent", {"brisholm", "--headless"}, 0}, PortCase{"plain", {"brisholm", "--port", "47823"}, 47823},
        PortCase{"plusSign", {"brisholm", "--port", "+8080"}, 8080},
        PortCase{"minusZero", {"brisholm", "--port", "-0"}, 0},
        PortCase{"minusNonZero", {"brisholm", "--port", "-80"}, 0},
        PortCase{"largest", {"brisholm", "--port", "65535"}, 65535},
        PortCase{"overflow", {"brisholm", "--port", "65536"}, 0},
        PortCase{"hugeOverflow", {"brisholm", "--port", "18446744073709551617"}, 0},
        PortCase{"leadingZeros", {"brisholm", "--port", "0000000000000000000000080"}, 80},
        PortCase{"trailingLetter", {"brisholm", "--port", "80a"}, 0},
        PortCase{"hexadecimal", {"brisholm", "--port", "0x50"}, 0}, PortCase{"space", {"brisholm", "--port", " 80"}, 0},
        PortCase{"signAlone", {"brisholm", "--port", "+"}, 0}, PortCase{"twoSigns", {"brisholm", "--port", "+-1"}, 0},
        PortCase{"empty", {"brisholm", "--port", ""}, 0},
        PortCase{"lastArgument", {"brisholm", "--headless", "--port"}, 0},
        PortCase{"firstOccurrenceCounts", {"brisholm", "--port", "1000", "--port", "2000"}, 1000},
        PortCase{"firstOccurrenceEvenWhenBad", {"brisholm", "--port", "x", "--port", "2000"}, 0},
        PortCase{"valueMayLookLikeAnOption", {"--port", "--port", "5"}, 0},
        PortCase{"optionsAnywhere", {"brisholm", "--name", "a", "--two-displays", "--port", "9"}, 9}),
    [](const auto& info) { return std::string(info.param.label); });

struct NameCase {
    const char* label;
    std::vector<std::string_view> arguments;
    std::string name;
};

class NameOption : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameOption, GivesTheNameOrTheDefault) {
    EXPECT_EQ(parse(GetParam().arguments).name, GetParam().name);
}

const std::string seventy(70, 'n');
const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // one grapheme
const std::string sixtyThreeThenFamily = std::string(63, 'a') + family + "zz";

INSTANTIATE_TEST_SUITE_P(
    Values, NameOption,
    ::testing::Values(
        NameCase{"absent", {"brisholm", "--headless"}, "headless"},
        NameCase{"lastArgument", {"brisholm", "--name"}, "headless"}, NameCase{"empty", {"brisholm", "--name", ""}, ""},
        NameCase{"plain", {"brisholm", "--name", "Werkbank"}, "Werkbank"},
        NameCase{"firstOccurrenceCounts", {"brisholm", "--name", "eins", "--name", "zwei"}, "eins"},
        NameCase{"seventyCutToSixtyFour", {"brisholm", "--name", seventy}, std::string(64, 'n')},
        NameCase{"emojiCountsAsOne", {"brisholm", "--name", sixtyThreeThenFamily}, std::string(63, 'a') + family},
        NameCase{"umlautsAreCharactersNotBytes",
                 {"brisholm", "--name", "\xC3\xA4\xC3\xB6\xC3\xBC"},
                 "\xC3\xA4\xC3\xB6\xC3\xBC"},
        // Invalid UTF-8 would make the welcome unencodable, so it becomes U+FFFD.
        NameCase{"invalidBytesReplaced",
                 {"brisholm", "--name",
                  "a\xFF"
                  "b"},
                 "a\xEF\xBF\xBD"
                 "b"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(NameOption, SixtyFourEmojiAreKeptAndTheSixtyFifthIsCut) {
    std::string many;
    for (int i = 0; i < 65; ++i) {
        many += "\xF0\x9F\x98\x80";  // grinning face, four bytes
    }
    const auto name = parse({"--name", many}).name;
    EXPECT_EQ(Text::characterCount(name), 64u);
    EXPECT_EQ(name.size(), 64u * 4);
}

TEST(TwoDisplaysOption, IsAFlagFoundAnywhere) {
    EXPECT_FALSE(parse({"brisholm", "--headless"}).twoDisplays);
    EXPECT_TRUE(parse({"brisholm", "--two-displays", "--headless"}).twoDisplays);
    EXPECT_TRUE(parse({"--name", "x", "--port", "1", "--two-displays"}).twoDisplays);
    EXPECT_FALSE(parse({"brisholm", "--two-displays=yes"}).twoDisplays);
}

TEST(EntryPoint, ChoosesTheHeadlessHostOnAnExactArgument) {
    const std::vector<std::pair<std::vector<std::string_view>, bool>> cases = {
        {{"brisholm"}, false},
        {{"brisholm", "--headless"}, true},
        {{"brisholm", "--port", "1", "--headless"}, true},
        {{"--headless"}, true},  // the program path counts too
        {{"brisholm", "--Headless"}, false},
        {{"brisholm", "--headless=1"}, false},
        {{"brisholm", "-headless"}, false},
        {{}, false},
    };
    for (const auto& [arguments, headless] : cases) {
        EXPECT_EQ(wantsHeadlessHost(arguments), headless) << ::testing::PrintToString(arguments);
    }
}

}  // namespace
}  // namespace vantrel
