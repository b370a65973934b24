#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string_view>

#include "vantrel/ControlMessages.hpp"
#include "vantrel/JSONMessage.hpp"

namespace vantrel {
namespace {

Bytes body(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

template <typename Message>
std::optional<Message> decode(std::string_view json) {
    return JSONMessage::decode<Message>(body(json));
}

TEST(JSONMessageTest, WritesCompactObjectsWithTheFieldNames) {
    EXPECT_EQ(text(JSONMessage::encode(SelectDisplay{7})), R"({"id":7})");
    EXPECT_EQ(text(JSONMessage::encode(AppEntry{"org.example.Mail", "Mail", true, std::nullopt})),
              R"({"id":"org.example.Mail","name":"Mail","running":true})");
    EXPECT_EQ(text(JSONMessage::encode(AppEntry{"a", "A", false, Bytes{0x00, 0x01, 0x02}})),
              R"({"icon":"AAEC","id":"a","name":"A","running":false})");
    EXPECT_EQ(text(JSONMessage::encode(Welcome{1, "Desk", {}, 5, true})),
              R"({"activeDisplay":5,"canControl":true,"displays":[],"hostName":"Desk","version":1})");
}

TEST(JSONMessageTest, DecodesAcceptedForms) {
    EXPECT_EQ(decode<Hello>(R"({"deviceName":"Phone","version":1,"extra":[1,{"x":null}]})"), (Hello{1, "Phone"}));
    EXPECT_EQ(decode<SelectDisplay>(R"({"id":4294967295})"), SelectDisplay{4294967295U});
    EXPECT_EQ(decode<SelectDisplay>(R"( {"id":0} )"), SelectDisplay{0});
    EXPECT_EQ(decode<PointerPosition>(R"({"x":3,"y":-1e-3})"), (PointerPosition{3.0, -0.001}));
    EXPECT_EQ(decode<PointerPosition>(R"({"x":18446744073709551615,"y":0})"),
              (PointerPosition{18446744073709551615.0, 0}));
    EXPECT_EQ(decode<Hello>(R"({"version":-9223372036854775808,"deviceName":""})"), (Hello{INT64_MIN, ""}));
    EXPECT_EQ(decode<Welcome>(R"({"version":1,"hostName":"h","displays":[{"id":2,"name":"n","width":10,"height":20}],)"
                              R"("activeDisplay":2,"canControl":false})"),
              (Welcome{1, "h", {DisplayInfo{2, "n", 10, 20}}, 2, false}));
    EXPECT_EQ(decode<Welcome>(R"({"version":1,"hostName":"h","displays":[],"activeDisplay":0,"canControl":true})")
                  ->displays.size(),
              0U);
    // nlohmann keeps the last of duplicate keys.
    EXPECT_EQ(decode<OpenApp>(R"({"id":"a","id":"b"})"), OpenApp{"b"});
}

TEST(JSONMessageTest, RefusesWrongTypesRangesAndMissingKeys) {
    const struct {
        const char* what;
        std::optional<bool> decoded;
    } cases[] = {
        {"not JSON", decode<OpenApp>("{").has_value()},
        {"trailing garbage", decode<OpenApp>(R"({"id":"a"}x)").has_value()},
        {"empty body", decode<OpenApp>("").has_value()},
        {"array body", decode<OpenApp>(R"([{"id":"a"}])").has_value()},
        {"invalid UTF-8", decode<OpenApp>("{\"id\":\"\xC3\x28\"}").has_value()},
        {"version as string", decode<Hello>(R"({"version":"1","deviceName":"p"})").has_value()},
        {"version with fraction", decode<Hello>(R"({"version":1.5,"deviceName":"p"})").has_value()},
        {"version written 1.0", decode<Hello>(R"({"version":1.0,"deviceName":"p"})").has_value()},
        {"version in exponent form", decode<Hello>(R"({"version":1e0,"deviceName":"p"})").has_value()},
        {"version above int64", decode<Hello>(R"({"version":9223372036854775808,"deviceName":"p"})").has_value()},
        {"deviceName missing", decode<Hello>(R"({"version":1})").has_value()},
        {"deviceName null", decode<Hello>(R"({"version":1,"deviceName":null})").has_value()},
        {"deviceName number", decode<Hello>(R"({"version":1,"deviceName":5})").has_value()},
        {"id 2^32", decode<SelectDisplay>(R"({"id":4294967296})").has_value()},
        {"id -1", decode<SelectDisplay>(R"({"id":-1})").has_value()},
        {"id bool", decode<SelectDisplay>(R"({"id":true})").has_value()},
        {"x string", decode<PointerPosition>(R"({"x":"0.5","y":0})").has_value()},
        {"x beyond double", decode<PointerPosition>(R"({"x":1e400,"y":0})").has_value()},
        {"y missing", decode<PointerPosition>(R"({"x":0})").has_value()},
        {"canControl as 1", decode<Welcome>(R"({"version":1,"hostName":"h","displays":[],"activeDisplay":0,)"
                                            R"("canControl":1})")
                                .has_value()},
        {"bad display inside", decode<Welcome>(R"({"version":1,"hostName":"h","displays":[{"id":-1,"name":"n",)"
                                               R"("width":1,"height":1}],"activeDisplay":0,"canControl":true})")
                                   .has_value()},
        {"displays an object", decode<Welcome>(R"({"version":1,"hostName":"h","displays":{},"activeDisplay":0,)"
                                               R"("canControl":true})")
                                   .has_value()},
        {"running missing", decode<AppEntry>(R"({"id":"a","name":"A"})").has_value()},
        {"running as string", decode<AppEntry>(R"({"id":"a","name":"A","running":"true"})").has_value()},
        {"apps missing", decode<AppList>(R"({})").has_value()},
        {"bad app inside", decode<AppList>(R"({"apps":[{"id":"a","name":"A","running":true},{"id":1}]})").has_value()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.decoded, false) << c.what;
    }
}

TEST(AppEntryTest, IconIsStrictPaddedBase64AndOptional) {
    const char* prefix = R"({"id":"a","name":"A","running":true)";
    auto entry = [&](std::string_view rest) { return decode<AppEntry>(std::string(prefix) + std::string(rest)); };

    EXPECT_EQ(entry("}")->icon, std::nullopt);
    EXPECT_EQ(entry(R"(,"icon":null})")->icon, std::nullopt);
    EXPECT_EQ(entry(R"(,"icon":""})")->icon, Bytes{});
    EXPECT_EQ(entry(R"(,"icon":"AAEC"})")->icon, (Bytes{0x00, 0x01, 0x02}));
    EXPECT_EQ(entry(R"(,"icon":"AA=="})")->icon, Bytes{0x00});
    EXPECT_EQ(entry(R"(,"icon":"AAE="})")->icon, (Bytes{0x00, 0x01}));
    EXPECT_EQ(entry(R"(,"icon":"+/+/"})")->icon, (Bytes{0xFB, 0xFF, 0xBF}));

    for (const char* bad : {"AA", "AAE", "AA=", "A===", "====", "AA=A", "=AAA", "AA==AAAA", "-_-_",
                            "AA\\nAA==", " AAEC", "AAEC ", "AA.C"}) {
        EXPECT_FALSE(entry(std::string(R"(,"icon":")") + bad + "\"}")) << bad;
    }
    EXPECT_FALSE(entry(R"(,"icon":5})"));
    EXPECT_FALSE(entry(R"(,"icon":["AAEC"]})"));
}

TEST(AppListTest, ConstructionKeepsFortyButDecodingKeepsAll) {
    std::vector<AppEntry> entries;
    for (int i = 0; i < 41; ++i) {
        entries.push_back(AppEntry{"app" + std::to_string(i), "App", false, std::nullopt});
    }
    const AppList cut(entries);
    ASSERT_EQ(cut.apps.size(), AppList::maxCount);
    EXPECT_EQ(cut.apps.back().id, "app39");
    EXPECT_EQ(AppList(std::vector<AppEntry>(entries.begin(), entries.begin() + 40)).apps.size(), 40U);

    AppList whole;
    whole.apps = entries;
    const auto decoded = JSONMessage::decode<AppList>(JSONMessage::encode(whole));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->apps.size(), 41U);
    EXPECT_EQ(*decoded, whole);
}

TEST(JSONMessageTest, NonFiniteNumbersGiveAnEmptyBody) {
    for (const double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()}) {
        EXPECT_TRUE(JSONMessage::encode(PointerPosition{bad, 0.5}).empty());
        EXPECT_TRUE(JSONMessage::encode(PointerPosition{0.5, bad}).empty());
    }
    EXPECT_FALSE(JSONMessage::decode<PointerPosition>(Bytes{}));
}

// Host-made names come from the system (EDID, desktop entries) and may hold bytes that are not
// UTF-8: the body still goes out, with those bytes replaced.
TEST(JSONMessageTest, InvalidUtf8InHostStringsIsReplacedNotFatal) {
    const Bytes encoded = JSONMessage::encode(DisplayInfo{1, "Dell\xFF", 10, 10});
    ASSERT_FALSE(encoded.empty());
    const auto decoded = JSONMessage::decode<DisplayInfo>(encoded);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->name, "Dell\xEF\xBF\xBD");
}

TEST(JSONMessageTest, RandomValuesRoundTrip) {
    std::mt19937_64 random(11);
    auto randomString = [&] {
        static constexpr std::string_view pieces[] = {"a",
                                                      "Z",
                                                      " ",
                                                      "\"",
                                                      "\\",
                                                      "\n",
                                                      "\t",
                                                      std::string_view("\0", 1),
                                                      "\x7F",
                                                      "\xC3\xA9",
                                                      "\xE2\x82\xAC",
                                                      "\xF0\x9F\x98\x80",
                                                      "{}"};
        std::string out;
        for (std::size_t i = random() % 12; i > 0; --i) {
            out += pieces[random() % std::size(pieces)];
        }
        return out;
    };
    auto randomDouble = [&] {
        const double values[] = {0.0,
                                 -0.0,
                                 1.0,
                                 0.1,
                                 1e-300,
                                 -1e300,
                                 std::numeric_limits<double>::min(),
                                 std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::denorm_min()};
        return random() % 2 == 0 ? values[random() % std::size(values)]
                                 : std::ldexp(static_cast<double>(static_cast<std::int64_t>(random())), -40);
    };
    for (int round = 0; round < 300; ++round) {
        const Hello hello{static_cast<std::int64_t>(random()), randomString()};
        EXPECT_EQ(JSONMessage::decode<Hello>(JSONMessage::encode(hello)), hello);

        Welcome welcome{static_cast<std::int64_t>(random()),
                        randomString(),
                        {},
                        static_cast<std::uint32_t>(random()),
                        random() % 2 == 0};
        for (std::size_t i = random() % 4; i > 0; --i) {
            welcome.displays.push_back(DisplayInfo{static_cast<std::uint32_t>(random()), randomString(),
                                                   static_cast<std::int64_t>(random()),
                                                   static_cast<std::int64_t>(random())});
        }
        EXPECT_EQ(JSONMessage::decode<Welcome>(JSONMessage::encode(welcome)), welcome);

        const PointerPosition pointer{randomDouble(), randomDouble()};
        EXPECT_EQ(JSONMessage::decode<PointerPosition>(JSONMessage::encode(pointer)), pointer);

        const SelectDisplay select{static_cast<std::uint32_t>(random())};
        EXPECT_EQ(JSONMessage::decode<SelectDisplay>(JSONMessage::encode(select)), select);

        AppList list;
        for (std::size_t i = random() % 5; i > 0; --i) {
            std::optional<Bytes> icon;
            if (random() % 3 != 0) {
                icon.emplace(random() % 40);
                for (auto& byte : *icon) {
                    byte = static_cast<std::uint8_t>(random());
                }
            }
            list.apps.push_back(AppEntry{randomString(), randomString(), random() % 2 == 0, icon});
        }
        EXPECT_EQ(JSONMessage::decode<AppList>(JSONMessage::encode(list)), list);

        const OpenApp open{randomString()};
        EXPECT_EQ(JSONMessage::decode<OpenApp>(JSONMessage::encode(open)), open);
    }
}

}  // namespace
}  // namespace vantrel
