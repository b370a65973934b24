#include <gtest/gtest.h>

#include "Script.hpp"
#include "vantrel/ControlMessages.hpp"
#include "vantrel/InputEvent.hpp"
#include "vantrel/JSONMessage.hpp"

namespace vantrel::probe {
namespace {

using namespace std::chrono_literals;

std::vector<ScriptStep> steps(std::string_view text) {
    auto parsed = parseScript(text);
    if (const auto* error = std::get_if<ScriptError>(&parsed)) {
        ADD_FAILURE() << error->message;
        return {};
    }
    return std::get<std::vector<ScriptStep>>(parsed);
}

TEST(ScriptTest, EveryKindInFileOrderWithDelaysAndLineNumbers) {
    const auto script = steps(
        "# a comment\n"
        "\n"
        "{\"delay\": 250, \"input\": {\"pointerMove\": {\"dx\": 1.5, \"dy\": -2}}}\n"
        "  {\"selectDisplay\": {\"id\": 4294967295}}\r\n"
        "{\"openApp\": {\"id\": \"org.gnome.Terminal\"}, \"delay\": 0}\n"
        "{\"ping\": \"abc\"}\n"
        "{\"requestKeyframe\": {}}\n"
        "{\"input\": {\"text\": {\"_0\": \"hi\"}}}");
    ASSERT_EQ(script.size(), 6U);

    EXPECT_EQ(script[0].type, MessageType::input);
    EXPECT_EQ(script[0].delay, 250ms);
    EXPECT_EQ(script[0].line, 3U);
    const auto move = JSONMessage::decode<InputEvent>(script[0].body);
    ASSERT_TRUE(move && std::holds_alternative<input::PointerMove>(*move));
    EXPECT_EQ(std::get<input::PointerMove>(*move).dx, 1.5);
    EXPECT_EQ(std::get<input::PointerMove>(*move).dy, -2);

    EXPECT_EQ(script[1].type, MessageType::selectDisplay);
    EXPECT_EQ(JSONMessage::decode<SelectDisplay>(script[1].body), SelectDisplay{4294967295U});
    EXPECT_EQ(script[2].type, MessageType::openApp);
    EXPECT_EQ(JSONMessage::decode<OpenApp>(script[2].body), OpenApp{"org.gnome.Terminal"});
    EXPECT_EQ(script[3].type, MessageType::ping);
    EXPECT_EQ(script[3].body, (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(script[4].type, MessageType::requestKeyframe);
    EXPECT_TRUE(script[4].body.empty());
    EXPECT_EQ(script[5].line, 8U);  // the last line needs no newline
}

TEST(ScriptTest, AnEmptyFileIsAnEmptyScript) {
    EXPECT_TRUE(steps("").empty());
    EXPECT_TRUE(steps("# only a comment\n\n   \n").empty());
}

struct BadLine {
    std::string_view text;
    std::string_view messagePart;
};

class ScriptRefusalTest : public ::testing::TestWithParam<BadLine> {};

// Each defect is named with its line before anything is sent, so a host never sees half a script.
TEST_P(ScriptRefusalTest, NamesTheLineAndTheDefect) {
    const std::string text = std::string("{\"ping\": \"ok\"}\n") + std::string(GetParam().text);
    const auto parsed = parseScript(text);
    const auto* error = std::get_if<ScriptError>(&parsed);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->message.rfind("line 2: ", 0), 0U) << error->message;
    EXPECT_NE(error->message.find(GetParam().messagePart), std::string::npos) << error->message;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, ScriptRefusalTest,
    ::testing::Values(
        BadLine{"{\"ping\": \"a\"", "not valid JSON"}, BadLine{"[1, 2]", "one JSON object"},
        BadLine{"{\"delay\": 5}", "no message"}, BadLine{"{\"delay\": -1, \"ping\": \"\"}", "delay"},
        BadLine{"{\"delay\": 1.5, \"ping\": \"\"}", "delay"}, BadLine{"{\"delay\": 3600001, \"ping\": \"\"}", "delay"},
        BadLine{"{\"ping\": \"a\", \"openApp\": {\"id\": \"x\"}}", "more than one message"},
        BadLine{"{\"pong\": \"a\"}", "unknown key \"pong\""},
        BadLine{"{\"input\": {\"scroll\": {\"dx\": 1}}}", "not an input event"},
        BadLine{"{\"input\": {\"scroll\": {\"dx\": 1, \"dy\": 1}, \"pointerMove\": {\"dx\": 1, \"dy\": 1}}}",
                "Invalid number of keys"},
        BadLine{"{\"input\": {\"key\": {\"code\": 0, \"down\": true, \"modifiers\": 256}}}", "not an input event"},
        BadLine{"{\"selectDisplay\": {\"id\": -1}}", "selectDisplay"}, BadLine{"{\"openApp\": {}}", "openApp"},
        BadLine{"{\"ping\": 5}", "ping takes a string"}));

}  // namespace
}  // namespace vantrel::probe
