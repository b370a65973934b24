// The desktop host as a user runs it in a wlroots session, with vantrel-probe as the phone: what
// the phone types goes all the way into a terminal on the desk's German layout (letters the
// layout has, characters it lacks, typed the moment the phone is in), and a key the phone held
// when it left is not held for the next one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "ChildProcess.hpp"
#include "DeskKeyboard.hpp"
#include "PrivateAddress.hpp"
#include "PrivateSway.hpp"
#include "TypingWindow.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::DeskKeyboard;
using testing::PrivateSway;
using testing::TypingWindow;

const std::string brisholm = VANTREL_BRISHOLM;
const std::string probe = VANTREL_PROBE;

class WlrootsTypingTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VANTREL_TEST_SESSION") == nullptr || ::geteuid() != 0) {
            GTEST_SKIP() << "needs the private test session as root (scripts/test-session.sh): a network namespace "
                            "of its own";
        }
        if (!sway_.ok()) {
            GTEST_SKIP() << sway_.failure();
        }
        address_.emplace();
        if (!address_->ok()) {
            GTEST_SKIP() << "cannot give the namespace a private address";
        }
    }

    // A phone's visit: the probe sends the script's lines, then stays the given seconds.
    static void visit(const std::string& link, const std::filesystem::path& script, const std::string& seconds) {
        ChildProcess phone(probe, {"--seconds", seconds, "--no-decode", "--script", script.string(), link});
        EXPECT_EQ(phone.waitForExit(60s), 0) << phone.errorOutput();
    }

    PrivateSway sway_;
    std::optional<testing::PrivateAddress> address_;
};

TEST_F(WlrootsTypingTest, WhatThePhoneTypesArrivesOnTheDesksLayoutAndNothingStaysHeldAfterIt) {
    const DeskKeyboard desk("de");
    ASSERT_TRUE(desk.ok());
    const TypingWindow window(sway_, "phone-typing");
    ASSERT_TRUE(window.ok());

    // The host's own panel draws off screen, out of the way of the terminal's focus.
    ChildProcess host(brisholm, {"--verbose", "--print-link"},
                      {{"WAYLAND_DISPLAY", sway_.waylandDisplay()},
                       {"XDG_SESSION_TYPE", "wayland"},
                       {"DISPLAY", {}},
                       {"QT_QPA_PLATFORM", "offscreen"}});
    const auto line = host.waitForLine("pairing: ", 30s);
    ASSERT_TRUE(line.has_value()) << host.errorOutput();
    const auto link = line->substr(std::string("pairing: ").size());

    const auto directory = std::filesystem::path(sway_.directory()) / "scripts";
    std::filesystem::create_directories(directory);
    // Typed as soon as the phone is in; the "Z" key place gives y on a German keyboard; then Shift
    // goes down and the phone leaves without letting go.
    const auto first = directory / "first";
    std::ofstream(first)
        << R"({"input": {"text": {"_0": "Gr\u00fc\u00dfe \u20ac \u00f1 @ | ~ \u65e5\u672c \ud83d\ude00\n"}}})"
        << "\n"
        << R"({"input": {"key": {"code": 6, "down": true, "modifiers": 0}}})"
        << "\n"
        << R"({"input": {"key": {"code": 6, "down": false, "modifiers": 0}}})"
        << "\n"
        << R"({"input": {"key": {"code": 36, "down": true, "modifiers": 0}}})"
        << "\n"
        << R"({"input": {"key": {"code": 36, "down": false, "modifiers": 0}}})"
        << "\n"
        << R"({"input": {"key": {"code": 56, "down": true, "modifiers": 2}}})"
        << "\n";
    visit(link, first, "1");
    std::string expected = "Gr\u00FC\u00DFe \u20AC \u00F1 @ | ~ \u65E5\u672C \U0001F600\ny\n";
    EXPECT_EQ(window.waitFor(expected), expected);

    // The next phone's letters are small: the first one's Shift went up when it left.
    const auto second = directory / "second";
    std::ofstream(second) << R"({"input": {"text": {"_0": "ab\n"}}})"
                          << "\n";
    visit(link, second, "1");
    expected += "ab\n";
    EXPECT_EQ(window.waitFor(expected), expected);

    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForExit(), 0);
}

}  // namespace
}  // namespace vantrel
