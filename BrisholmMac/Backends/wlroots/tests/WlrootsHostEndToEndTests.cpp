// The desktop host as a user runs it in a wlroots session (a sway of the test's own with two
// outputs and no X display), with vantrel-probe as the phone: what it sees, what it types, and a
// window that opens on the other output taking it there. The pairing link needs an address a
// phone could reach, so each test gives its private network namespace one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "DeskKeyboard.hpp"
#include "PhoneVisit.hpp"
#include "PrivateAddress.hpp"
#include "PrivateSway.hpp"
#include "TypingWindow.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::ChildProcess;
using testing::DeskKeyboard;
using testing::PrivateSway;
using testing::TypingWindow;

const std::string brisholm = VANTREL_BRISHOLM;
const std::string probe = VANTREL_PROBE;

class WlrootsHostTest : public ::testing::Test {
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

    // The host in the session as a user of sway has it: Wayland only. Its own panel draws off
    // screen, out of the pictures and of the windows' focus. link_ is its pairing link (empty when
    // it printed none).
    std::unique_ptr<ChildProcess> startHost() {
        auto host = std::make_unique<ChildProcess>(
            brisholm, std::vector<std::string>{"--verbose", "--print-link"},
            std::map<std::string, std::optional<std::string>>{{"WAYLAND_DISPLAY", sway_.waylandDisplay()},
                                                              {"XDG_SESSION_TYPE", "wayland"},
                                                              {"DISPLAY", std::nullopt},
                                                              {"QT_QPA_PLATFORM", "offscreen"}});
        const auto line = host->waitForLine("pairing: ", 30s);
        link_ = line ? line->substr(std::string("pairing: ").size()) : std::string();
        return host;
    }

    // A phone's visit: the probe sends the script's lines, then stays the given seconds.
    static void visitWith(const std::string& link, const std::filesystem::path& script, const std::string& seconds) {
        ChildProcess phone(probe, {"--seconds", seconds, "--no-decode", "--script", script.string(), link});
        EXPECT_EQ(phone.waitForExit(60s), 0) << phone.errorOutput();
    }

    PrivateSway sway_{{{1280, 720}, {1024, 768}}, {"default_border none"}};
    std::optional<testing::PrivateAddress> address_;
    std::string link_;
};

// The welcome names both outputs, and the decoded pictures show what was drawn on each.
TEST_F(WlrootsHostTest, APhoneSeesBothOutputsByNameAndWhatWasDrawnOnEach) {
    // HEADLESS-1 shows an orange terminal over all of it, HEADLESS-2 a green background.
    ASSERT_FALSE(sway_.message("'output HEADLESS-2 bg #20c040 solid_color'").empty());
    ASSERT_FALSE(sway_.message("'focus output HEADLESS-1'").empty());
    ASSERT_TRUE(sway_.launch("foot -a paint -o colors.background=ff8800 sleep 120"));
    ASSERT_TRUE(testing::waitUntil([&] { return sway_.focusedName() == "paint"; }, 10s));

    auto host = startHost();
    ASSERT_FALSE(link_.empty()) << host->errorOutput();
    const auto& link = link_;

    // A first visit reads the welcome; the second shows the main output, then the other.
    const auto directory =
        std::filesystem::temp_directory_path() / ("vantrel-wlroots-e2e-" + address_->interfaceName());
    std::filesystem::create_directories(directory);
    std::vector<json> welcomes;
    {
        ChildProcess visit(probe, {"--seconds", "0.5", "--no-decode", link});
        ASSERT_EQ(visit.waitForExit(60s), 0);
        for (const auto& text : visit.lines()) {
            const auto message = json::parse(text, nullptr, false);
            if (!message.is_discarded() && message.value("kind", "") == "welcome") {
                welcomes.push_back(message["body"]);
            }
        }
    }
    ASSERT_EQ(welcomes.size(), 1U);
    const auto& displays = welcomes[0]["displays"];
    ASSERT_EQ(displays.size(), 2U);
    EXPECT_THAT(displays[0]["name"].get<std::string>(), ::testing::HasSubstr("HEADLESS-1"));
    EXPECT_THAT(displays[1]["name"].get<std::string>(), ::testing::HasSubstr("HEADLESS-2"));
    EXPECT_EQ(displays[0]["width"], 1280);
    EXPECT_EQ(displays[1]["width"], 1024);
    EXPECT_EQ(welcomes[0]["activeDisplay"], displays[0]["id"]);

    const auto script = directory / "script";
    std::ofstream(script) << R"({"delay": 1200, "selectDisplay": {"id": )" << displays[1]["id"].get<std::uint32_t>()
                          << "}}\n";
    ChildProcess watching(probe,
                          {"--seconds", "2.5", "--save-frames", directory.string(), "--script", script.string(), link});
    ASSERT_EQ(watching.waitForExit(60s), 0);
    bool sawTerminal = false;
    bool sawGreen = false;
    for (const auto& picture : testing::savedPictures(directory)) {
        if (picture.width == 1280) {
            sawTerminal = sawTerminal || picture.near(640, 500, 0xff8800);
        } else if (picture.width == 1024) {
            sawGreen = sawGreen ||
                       picture.near(200, 600, 0x20c040);  // clear of the pointer, which a phone brings to the centre
        }
    }
    EXPECT_TRUE(sawTerminal) << "no decoded picture of HEADLESS-1 shows the orange terminal";
    EXPECT_TRUE(sawGreen) << "no decoded picture of HEADLESS-2 shows its green background";

    host->signal(SIGTERM);
    EXPECT_EQ(host->waitForExit(), 0);
    std::filesystem::remove_all(directory);
}

// What the phone types goes all the way into a terminal on the desk's German layout: letters the
// layout has, characters it lacks, typed the moment the phone is in; and a key the phone held
// when it left is not held for the next one.
TEST_F(WlrootsHostTest, WhatThePhoneTypesArrivesOnTheDesksLayoutAndNothingStaysHeldAfterIt) {
    const DeskKeyboard desk("de");
    ASSERT_TRUE(desk.ok());
    const TypingWindow window(sway_, "phone-typing");
    ASSERT_TRUE(window.ok());

    auto host = startHost();
    ASSERT_FALSE(link_.empty()) << host->errorOutput();
    const auto& link = link_;

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
    visitWith(link, first, "1");
    std::string expected = "Gr\u00FC\u00DFe \u20AC \u00F1 @ | ~ \u65E5\u672C \U0001F600\ny\n";
    EXPECT_EQ(window.waitFor(expected), expected);

    // The next phone's letters are small: the first one's Shift went up when it left.
    const auto second = directory / "second";
    std::ofstream(second) << R"({"input": {"text": {"_0": "ab\n"}}})"
                          << "\n";
    visitWith(link, second, "1");
    expected += "ab\n";
    EXPECT_EQ(window.waitFor(expected), expected);

    host->signal(SIGTERM);
    EXPECT_EQ(host->waitForExit(), 0);
}

// The welcomes the phone has received so far.
std::vector<json> welcomes(ChildProcess& phone) {
    std::vector<json> found;
    for (const auto& line : phone.lines()) {
        auto message = json::parse(line, nullptr, false);
        if (!message.is_discarded() && message.value("kind", "") == "welcome") {
            found.push_back(std::move(message["body"]));
        }
    }
    return found;
}

// A window that opens on the output the phone does not watch takes the phone there.
TEST_F(WlrootsHostTest, AWindowOpeningOnTheOtherOutputTakesThePhoneThere) {
    ASSERT_TRUE(sway_.launch("foot --app-id org.vantrel.Resident cat"));
    auto host = startHost();
    ASSERT_FALSE(link_.empty()) << host->errorOutput();
    const auto& link = link_;

    ChildProcess phone(probe, {"--seconds", "20", "--no-decode", link});
    ASSERT_TRUE(vantrel::testing::waitUntil([&] { return !welcomes(phone).empty(); }, 20s)) << host->errorOutput();
    const auto welcome = welcomes(phone).front();
    ASSERT_EQ(welcome["displays"].size(), 2U);
    const auto first = welcome["displays"][0]["id"].get<std::uint32_t>();
    const auto second = welcome["displays"][1]["id"].get<std::uint32_t>();
    ASSERT_EQ(welcome["activeDisplay"].get<std::uint32_t>(), first);

    // The host looks at the windows a few times a second, and its first look after the phone came
    // only records what is there: a window that opened before that look (the first one here, as a
    // rule) counts as old, so another one opens until the phone is taken along.
    const auto followed = [&] {
        const auto all = welcomes(phone);
        return std::any_of(all.begin(), all.end(),
                           [&](const json& body) { return body["activeDisplay"].get<std::uint32_t>() == second; });
    };
    bool switched = false;
    int attempts = 0;
    for (; attempts < 5 && !switched; ++attempts) {
        ASSERT_FALSE(sway_.message("focus output HEADLESS-2").empty());
        ASSERT_TRUE(sway_.launch("foot --app-id org.vantrel.Newcomer cat"));
        switched = vantrel::testing::waitUntil(followed, 2s);
    }
    EXPECT_TRUE(switched) << "the phone still watches the first output after " << attempts << " windows\n"
                          << host->errorOutput();

    phone.signal(SIGTERM);
    (void)phone.waitForExit(10s);
    host->signal(SIGTERM);
    EXPECT_EQ(host->waitForExit(30s), 0) << host->errorOutput();
}

}  // namespace
}  // namespace vantrel
