#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string_view>

#include "vantrel/InputEvent.hpp"
#include "vantrel/JSONMessage.hpp"

namespace vantrel {
namespace {

using namespace input;

InputEventDecodeResult decodeText(std::string_view json) {
    return decodeInputEvent(Bytes(json.begin(), json.end()));
}

std::string encodeText(const InputEvent& event) {
    const Bytes body = JSONMessage::encode(event);
    return std::string(body.begin(), body.end());
}

TEST(InputEventTest, DecodesEveryCase) {
    auto key = decodeText(R"({"key":{"modifiers":9,"down":true,"code":0}})");
    ASSERT_TRUE(key.event) << key.error;
    EXPECT_TRUE(key.error.empty());
    const auto& k = std::get<Key>(*key.event);
    EXPECT_EQ(k.code, 0);
    EXPECT_TRUE(k.down);
    EXPECT_EQ(k.modifiers, (Modifiers{Modifiers::command, Modifiers::shift}));

    const auto text = decodeText(R"({"text":{"_0":""}})");
    ASSERT_TRUE(text.event);
    EXPECT_EQ(std::get<Text>(*text.event).text, "");

    const auto move = decodeText(R"({"pointerMove":{"dx":3,"dy":-0.25}})");
    ASSERT_TRUE(move.event);
    EXPECT_EQ(std::get<PointerMove>(*move.event).dx, 3.0);
    EXPECT_EQ(std::get<PointerMove>(*move.event).dy, -0.25);

    const auto absolute = decodeText(R"({"pointerMoveAbsolute":{"x":1,"y":0.5}})");
    ASSERT_TRUE(absolute.event);
    EXPECT_EQ(std::get<PointerMoveAbsolute>(*absolute.event).y, 0.5);

    const auto scroll = decodeText(R"({"scroll":{"dx":0,"dy":12.5,"momentum":true}})");
    ASSERT_TRUE(scroll.event);
    EXPECT_EQ(std::get<Scroll>(*scroll.event).dy, 12.5);

    const auto button = decodeText(R"({"button":{"button":"middle","down":false},"note":"x"})");
    ASSERT_TRUE(button.event);
    EXPECT_EQ(std::get<Button>(*button.event).button, MouseButton::middle);
    EXPECT_FALSE(std::get<Button>(*button.event).down);
}

TEST(InputEventTest, NeedsExactlyOneKnownCaseName) {
    for (const char* json : {R"({})", R"({"scroll":{"dx":0,"dy":0},"pointerMove":{"dx":0,"dy":0}})",
                             R"({"Key":{"code":0,"down":true,"modifiers":0}})", R"({"other":1})"}) {
        const auto result = decodeText(json);
        EXPECT_FALSE(result.event) << json;
        EXPECT_EQ(result.error, invalidKeyCountMessage) << json;
    }
}

TEST(InputEventTest, RefusesFieldsOutsideTheirRules) {
    for (const char* json : {
             R"({"key":{"code":0,"down":true,"modifiers":256}})",
             R"({"key":{"code":-1,"down":true,"modifiers":0}})",
             R"({"key":{"code":65536,"down":true,"modifiers":0}})",
             R"({"key":{"code":1.5,"down":true,"modifiers":0}})",
             R"({"key":{"code":0,"down":1,"modifiers":0}})",
             R"({"key":{"code":0,"down":true}})",
             R"({"button":{"button":"Left","down":true}})",
             R"({"button":{"button":"MIDDLE","down":true}})",
             R"({"button":{"button":"left"}})",
             R"({"pointerMove":{"dx":"1","dy":0}})",
             R"({"pointerMove":{"dx":null,"dy":0}})",
             R"({"scroll":{"dx":1}})",
             R"({"text":{"_0":5}})",
             R"({"text":"hello"})",
             R"({"pointerMove":[1,2]})",
             R"([{"text":{"_0":"a"}}])",
             R"("text")",
             R"({"text":{"_0":"a"})",
         }) {
        const auto result = decodeText(json);
        EXPECT_FALSE(result.event) << json;
        EXPECT_FALSE(result.error.empty()) << json;
        EXPECT_NE(result.error, invalidKeyCountMessage) << json;
        EXPECT_FALSE(JSONMessage::decode<InputEvent>(Bytes(json, json + std::strlen(json)))) << json;
    }
}

TEST(InputEventTest, UnnamedModifierBitsSurvive) {
    const auto result = decodeText(R"({"key":{"code":12,"down":false,"modifiers":240}})");
    ASSERT_TRUE(result.event);
    const Modifiers modifiers = std::get<Key>(*result.event).modifiers;
    EXPECT_EQ(modifiers.rawValue(), 240);
    for (const Modifiers named : {Modifiers::shift, Modifiers::control, Modifiers::option, Modifiers::command}) {
        EXPECT_FALSE(modifiers.contains(named));
    }
    EXPECT_EQ(encodeText(*result.event), R"({"key":{"code":12,"down":false,"modifiers":240}})");
}

TEST(InputEventTest, WritesTheOneKeyForm) {
    EXPECT_EQ(encodeText(PointerMove{1.5, -2}), R"({"pointerMove":{"dx":1.5,"dy":-2.0}})");
    EXPECT_EQ(encodeText(Button{MouseButton::right, true}), R"({"button":{"button":"right","down":true}})");
    EXPECT_EQ(encodeText(Text{"hi"}), R"({"text":{"_0":"hi"}})");
    EXPECT_TRUE(JSONMessage::encode(InputEvent{Scroll{std::nan(""), 0}}).empty());
    EXPECT_TRUE(JSONMessage::encode(InputEvent{PointerMoveAbsolute{0, INFINITY}}).empty());
}

TEST(InputEventTest, RandomEventsRoundTrip) {
    std::mt19937_64 random(5);
    auto number = [&] { return std::ldexp(static_cast<double>(static_cast<std::int32_t>(random())), -8); };
    for (int round = 0; round < 1000; ++round) {
        InputEvent event;
        switch (random() % 6) {
            case 0: event = PointerMove{number(), number()}; break;
            case 1: event = PointerMoveAbsolute{number(), number()}; break;
            case 2: event = Button{static_cast<MouseButton>(random() % 3), random() % 2 == 0}; break;
            case 3: event = Scroll{number(), number()}; break;
            case 4:
                event = Key{static_cast<std::uint16_t>(random()), random() % 2 == 0,
                            Modifiers(static_cast<std::uint8_t>(random()))};
                break;
            default: event = Text{std::string(random() % 5, static_cast<char>('a' + random() % 26))}; break;
        }
        const Bytes body = JSONMessage::encode(event);
        const auto decoded = JSONMessage::decode<InputEvent>(body);
        ASSERT_TRUE(decoded) << std::string(body.begin(), body.end());
        EXPECT_EQ(decoded->index(), event.index());
        EXPECT_EQ(describe(*decoded), describe(event));
        EXPECT_EQ(JSONMessage::encode(*decoded), body);
    }
}

TEST(InputEventTest, DescribeNamesKindAndFieldsOnOneLine) {
    EXPECT_EQ(describe(PointerMove{1.5, -2}), "pointerMove dx=1.5 dy=-2");
    EXPECT_EQ(describe(Button{MouseButton::left, false}), "button left up");
    EXPECT_EQ(describe(Key{36, true, Modifiers{9}}), "key code=36 down modifiers=9");
    EXPECT_EQ(describe(Text{"a\nb\"c"}), R"(text "a\nb\"c")");
}

TEST(MouseButtonTest, RawValuesAreExactAndCaseSensitive) {
    for (const MouseButton button : {MouseButton::left, MouseButton::right, MouseButton::middle}) {
        EXPECT_EQ(mouseButtonFromString(rawValue(button)), button);
    }
    for (const char* raw : {"Left", "RIGHT", "Middle", "", "left ", "center"}) {
        EXPECT_FALSE(mouseButtonFromString(raw)) << raw;
    }
}

TEST(ModifiersTest, SetOperationsWorkOnTheWholeByte) {
    const Modifiers high{std::uint8_t{0xF0}};
    const Modifiers shiftCommand{Modifiers::shift, Modifiers::command};
    EXPECT_EQ(Modifiers{}.rawValue(), 0);
    EXPECT_TRUE(Modifiers{}.isEmpty());
    EXPECT_EQ(shiftCommand.rawValue(), 9);
    EXPECT_EQ(shiftCommand.unionWith(high).rawValue(), 0xF9);
    EXPECT_EQ(shiftCommand.intersection(Modifiers{std::uint8_t{0x0C}}), Modifiers::command);
    EXPECT_EQ(shiftCommand.symmetricDifference(Modifiers{std::uint8_t{0x0C}}).rawValue(), 0x05);
    EXPECT_EQ(Modifiers{std::uint8_t{0xFF}}.subtracting(high).rawValue(), 0x0F);
    EXPECT_TRUE(Modifiers::shift.isSubset(shiftCommand));
    EXPECT_FALSE(shiftCommand.isSubset(Modifiers::shift));
    EXPECT_TRUE(shiftCommand.isDisjoint(high));
    EXPECT_FALSE(shiftCommand.contains(Modifiers{Modifiers::shift, Modifiers::option}));

    Modifiers modifiers;
    modifiers.insert(Modifiers::option);
    modifiers.formUnion(high);
    EXPECT_EQ(modifiers.rawValue(), 0xF4);
    modifiers.remove(Modifiers::option);
    EXPECT_EQ(modifiers, high);
}

}  // namespace
}  // namespace vantrel
