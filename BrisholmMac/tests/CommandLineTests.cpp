// The command line of the brisholm program.
#include "CommandLine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace vantrel {
namespace {

CommandLine parse(std::vector<std::string_view> arguments) {
    arguments.insert(arguments.begin(), "brisholm");
    return parseCommandLine(arguments);
}

TEST(AutostartCommandLineTest, OnOrOffAndNothingElse) {
    EXPECT_EQ(parse({"--autostart", "on"}).action, CommandLine::Action::autostart);
    EXPECT_TRUE(parse({"--autostart", "on"}).autostartOn);
    EXPECT_EQ(parse({"--verbose", "--autostart", "off"}).action, CommandLine::Action::autostart);
    EXPECT_FALSE(parse({"--autostart", "off"}).autostartOn);
    for (const auto& wrong :
         {std::vector<std::string_view>{"--autostart"}, {"--autostart", "yes"}, {"--autostart", "ON"}}) {
        const auto line = parse(wrong);
        EXPECT_EQ(line.action, CommandLine::Action::usageError);
        EXPECT_THAT(line.error, ::testing::HasSubstr("'on' or 'off'"));
    }
    EXPECT_EQ(parse({"--headless", "--autostart", "on"}).action, CommandLine::Action::headlessHost)
        << "the headless host ignores what it does not know";
}

TEST(SessionCommandLineTest, AsksWhichBackendServesTheSessionUnlessTheHeadlessHostRuns) {
    EXPECT_EQ(parse({"--session"}).action, CommandLine::Action::sessionCheck);
    EXPECT_EQ(parse({"--verbose", "--session"}).action, CommandLine::Action::sessionCheck);
    EXPECT_EQ(parse({"--headless", "--session"}).action, CommandLine::Action::headlessHost)
        << "the headless host ignores what it does not know";
}

TEST(DesktopCommandLineTest, MaximumBitrateInBitsPerSecondOrWithAUnit) {
    EXPECT_EQ(parse({}).maxBitrate, std::nullopt);
    EXPECT_EQ(parse({"--max-bitrate", "8000000"}).maxBitrate, 8'000'000);
    EXPECT_EQ(parse({"--max-bitrate", "8000k"}).maxBitrate, 8'000'000);
    EXPECT_EQ(parse({"--verbose", "--max-bitrate", "8M", "--print-link"}).maxBitrate, 8'000'000);
    const auto both = parse({"--stats", "--max-bitrate", "100k"});
    EXPECT_EQ(both.action, CommandLine::Action::desktopHost);
    EXPECT_TRUE(both.stats);
    EXPECT_EQ(both.maxBitrate, 100'000);
    EXPECT_FALSE(parse({"--print-link"}).stats);

    for (const auto& wrong : {std::vector<std::string_view>{"--max-bitrate"},
                              {"--max-bitrate", "--stats"},
                              {"--max-bitrate", "8m"},
                              {"--max-bitrate", "8.5M"},
                              {"--max-bitrate", "-8M"},
                              {"--max-bitrate", "99999"},
                              {"--max-bitrate", "1001M"},
                              {"--max-bitrate", "99999999999999999999"},
                              {"--max-bitrate", "M"}}) {
        const auto line = parse(wrong);
        EXPECT_EQ(line.action, CommandLine::Action::usageError) << wrong.back();
        EXPECT_THAT(line.error, ::testing::HasSubstr("--max-bitrate needs")) << wrong.back();
    }
    EXPECT_EQ(parse({"--stats", "--fast"}).action, CommandLine::Action::usageError);
}

}  // namespace
}  // namespace vantrel
