#include <gtest/gtest.h>

#include "Options.hpp"

namespace vantrel::probe {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view link = "vantrel://pair?v=1&name=Mac&port=47823&hosts=10.0.0.2&key=x";

ProbeOptions parsed(std::vector<std::string_view> arguments) {
    const auto result = parseOptions(arguments);
    if (const auto* error = std::get_if<OptionError>(&result)) {
        ADD_FAILURE() << error->message;
        return {};
    }
    EXPECT_TRUE(std::holds_alternative<ProbeOptions>(result));
    return std::get<ProbeOptions>(result);
}

TEST(OptionsTest, DefaultsFromTheLinkAlone) {
    const auto options = parsed({link});
    EXPECT_EQ(options.link, link);
    EXPECT_FALSE(options.host);
    EXPECT_FALSE(options.port);
    EXPECT_FALSE(options.name);
    EXPECT_FALSE(options.duration);
    EXPECT_FALSE(options.frameLimit);
    EXPECT_FALSE(options.acknowledgeFrames);
    EXPECT_TRUE(options.decode);
    EXPECT_EQ(options.saveEvery, 1U);
    EXPECT_FALSE(options.quiet);
}

TEST(OptionsTest, EveryOptionInBothSpellings) {
    for (const bool joined : {false, true}) {
        std::vector<std::string> storage;
        const auto add = [&](std::string option, std::string value) {
            if (joined) {
                storage.push_back(option + "=" + value);
            } else {
                storage.push_back(std::move(option));
                storage.push_back(std::move(value));
            }
        };
        add("--host", "192.168.1.7");
        add("--port", "5000");
        add("--name", "Test Phone");
        add("--seconds", "2.5");
        add("--frames", "30");
        add("--script", "steps.jsonl");
        add("--ping-every", "250");
        add("--save-frames", "out");
        add("--every", "10");
        add("--dump-h264", "stream.h264");
        add("--frame-times", "times.txt");
        storage.emplace_back("--ack");
        storage.emplace_back("-q");
        storage.emplace_back(link);
        const std::vector<std::string_view> arguments(storage.begin(), storage.end());

        const auto options = parsed(arguments);
        EXPECT_EQ(options.host, "192.168.1.7") << joined;
        EXPECT_EQ(options.port, 5000);
        EXPECT_EQ(options.name, "Test Phone");
        EXPECT_EQ(options.duration, 2500ms);
        EXPECT_EQ(options.frameLimit, 30U);
        EXPECT_EQ(options.scriptPath, "steps.jsonl");
        EXPECT_EQ(options.pingInterval, 250ms);
        EXPECT_EQ(options.saveFramesDirectory, "out");
        EXPECT_EQ(options.saveEvery, 10U);
        EXPECT_EQ(options.dumpPath, "stream.h264");
        EXPECT_EQ(options.frameTimesPath, "times.txt");
        EXPECT_TRUE(options.acknowledgeFrames);
        EXPECT_TRUE(options.quiet);
        EXPECT_EQ(options.link, link);
    }
}

TEST(OptionsTest, HelpWinsWhereverItStands) {
    for (const auto& arguments :
         {std::vector<std::string_view>{"--help"}, {link, "-h"}, {"--port", "1", "--help", "--bogus"}}) {
        EXPECT_TRUE(std::holds_alternative<ShowHelp>(parseOptions(arguments)));
    }
}

TEST(OptionsTest, ALinkStartingWithADashFollowsTheDoubleDash) {
    const auto options = parsed({"--ack", "--", "-odd"});
    EXPECT_EQ(options.link, "-odd");
}

struct Refusal {
    std::vector<std::string_view> arguments;
    std::string_view messagePart;
};

class OptionRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(OptionRefusalTest, IsReportedWithTheOffendingPart) {
    const auto result = parseOptions(GetParam().arguments);
    const auto* error = std::get_if<OptionError>(&result);
    ASSERT_NE(error, nullptr);
    EXPECT_NE(error->message.find(GetParam().messagePart), std::string::npos) << error->message;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, OptionRefusalTest,
    ::testing::Values(Refusal{{}, "no pairing link"}, Refusal{{link, link}, "one pairing link expected"},
                      Refusal{{link, "--bogus"}, "unknown option --bogus"},
                      Refusal{{link, "--bogus=1"}, "unknown option --bogus"},
                      Refusal{{link, "--port"}, "--port needs a value"}, Refusal{{link, "--port", "0"}, "--port"},
                      Refusal{{link, "--port", "65536"}, "'65536'"}, Refusal{{link, "--port", "12ab"}, "'12ab'"},
                      Refusal{{link, "--seconds", "0"}, "--seconds"}, Refusal{{link, "--seconds", "-1"}, "--seconds"},
                      Refusal{{link, "--seconds", "nan"}, "--seconds"},
                      Refusal{{link, "--seconds", "1e9"}, "--seconds"}, Refusal{{link, "--frames", "0"}, "--frames"},
                      Refusal{{link, "--frames", "-3"}, "--frames"},
                      Refusal{{link, "--ping-every", "0"}, "--ping-every"},
                      Refusal{{link, "--every", "0", "--save-frames", "d"}, "--every"},
                      Refusal{{link, "--every", "5"}, "only makes sense with --save-frames"},
                      Refusal{{link, "--save-frames", "d", "--no-decode"}, "needs decoding"},
                      Refusal{{link, "--name="}, "--name"}, Refusal{{link, "--host", ""}, "--host"}));

TEST(OptionsTest, HelpNamesEveryExitCodeAndTheLatencyCaveat) {
    const std::string help = helpText();
    for (const std::string_view part : {"  0  ", "  1  ", "  2  ", "  3  ", "  4  ", "  5  ", "  6  ", "  7  ", "130",
                                        "wrong or was rotated", "protocol version", "host's own machine"}) {
        EXPECT_NE(help.find(part), std::string::npos) << part;
    }
}

}  // namespace
}  // namespace vantrel::probe
