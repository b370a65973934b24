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

}  // namespace
}  // namespace vantrel
