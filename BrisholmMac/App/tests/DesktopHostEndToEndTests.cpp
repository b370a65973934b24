// The desktop host as a user runs it, on the tests' X display (two monitors, openbox), with
// vantrel-probe as the phone. The pairing link needs an address a phone could reach, so each test
// gives its private network namespace one (a veth pair on a private network).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "PhoneVisit.hpp"
#include "PrivateAddress.hpp"
#include "vantrel/PairingInfo.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::ChildProcess;

const std::string brisholm = VANTREL_BRISHOLM;
const std::string probe = VANTREL_PROBE;

std::string run(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        ::pclose(pipe);
    }
    return output;
}

// Where the X pointer is now, in root coordinates.
std::pair<int, int> pointerLocation() {
    const auto text = run("xdotool getmouselocation --shell");
    int x = -1;
    int y = -1;
    std::sscanf(text.c_str(), "X=%d\nY=%d", &x, &y);
    return {x, y};
}

class DesktopHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr || std::getenv("VANTREL_TEST_SESSION") == nullptr || ::geteuid() != 0) {
            GTEST_SKIP() << "needs the private test session as root (scripts/test-session.sh): a display and a "
                            "network namespace of its own";
        }
        address_.emplace();
        if (!address_->ok()) {
            GTEST_SKIP() << "cannot give the namespace a private address";
        }
    }

    static std::string linkFrom(ChildProcess& host) {
        const auto line = host.waitForLine("pairing: ", 30s);
        return line ? line->substr(std::string("pairing: ").size()) : std::string();
    }

    std::optional<testing::PrivateAddress> address_;
};

testing::PhoneVisit runProbe(const std::string& link, std::vector<std::string> arguments) {
    return testing::visitHost(probe, link, std::move(arguments));
}

// Connect, watch and operate: the welcome names both monitors and offers control; the pointer is
// brought onto the streamed monitor; the pictures show the desktop; choosing the second monitor
// switches the stream and confines the pointer there; a relative move from the phone moves the
// real pointer.
TEST_F(DesktopHostTest, APhoneWatchesControlsAndSwitchesMonitors) {
    ASSERT_EQ(std::system("xdotool mousemove 2500 500"), 0);  // on the right monitor
    ASSERT_EQ(std::system("xsetroot -solid '#2080c0'"), 0);
    ChildProcess host(brisholm, {"--verbose", "--print-link"});
    const auto link = linkFrom(host);
    ASSERT_FALSE(link.empty()) << host.errorOutput();

    const auto directory =
        std::filesystem::temp_directory_path() / ("vantrel-desktop-e2e-" + address_->interfaceName());
    std::filesystem::create_directories(directory);
    const auto script = directory / "script";
    std::ofstream(script) << R"({"delay": 800, "input": {"pointerMove": {"dx": 40, "dy": 30}}})"
                             "\n"
                          << R"({"delay": 300, "selectDisplay": {"id": SECOND}})"
                             "\n";
    // The second monitor's id is only known from the welcome: a first, short visit reads it.
    const auto first = runProbe(link, {"--seconds", "1.5", "--save-frames", directory.string()});
    ASSERT_EQ(first.status, 0);
    const auto welcomes = first.ofKind("welcome");
    ASSERT_EQ(welcomes.size(), 1u);
    const auto& welcome = welcomes[0]["body"];
    ASSERT_EQ(welcome["displays"].size(), 2u);
    EXPECT_TRUE(welcome["canControl"].get<bool>());
    EXPECT_EQ(welcome["displays"][0]["width"], 1920);
    EXPECT_EQ(welcome["activeDisplay"], welcome["displays"][0]["id"]);
    const auto second = welcome["displays"][1]["id"].get<std::uint32_t>();

    // On connect the pointer came to the centre of the streamed (left, primary) monitor.
    const auto [x, y] = pointerLocation();
    EXPECT_LT(x, 1920);
    // A decoded picture shows the desktop: the root's colour away from the pointer.
    bool sawDesktop = false;
    for (const auto& picture : testing::savedPictures(directory)) {
        sawDesktop = sawDesktop || picture.near(1800, 1000, 0x2080c0);  // clear of the host's own window
    }
    EXPECT_TRUE(sawDesktop) << "no decoded picture shows the desktop's colour";

    // Now operate: a relative move, then the second monitor.
    std::string text;
    {
        std::ifstream in(script);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    text.replace(text.find("SECOND"), 6, std::to_string(second));
    std::ofstream(script) << text;
    const auto before = pointerLocation();
    const auto operated = runProbe(link, {"--seconds", "2.5", "--no-decode", "--script", script.string()});
    ASSERT_EQ(operated.status, 0);
    const auto later = operated.ofKind("welcome");
    ASSERT_EQ(later.size(), 2u) << "the display choice republishes the welcome";
    EXPECT_EQ(later[1]["body"]["activeDisplay"], second);
    const auto configs = operated.ofKind("videoConfig");
    ASSERT_GE(configs.size(), 2u) << "the switch restarts the stream with a fresh configuration";
    const auto [afterX, afterY] = pointerLocation();
    EXPECT_GE(afterX, 1920) << "the pointer is confined to the chosen monitor";
    EXPECT_NE(std::make_pair(afterX, afterY), before);

    // The watched monitor (still the second: the host kept the choice) is unplugged while a phone
    // watches it: the phone stays, is told the main monitor is shown now, and gets its pictures.
    const auto firstId = welcome["displays"][0]["id"].get<std::uint32_t>();
    ChildProcess watching(probe, {"--seconds", "4", "--no-decode", link});
    const auto watchingSecond = [&watching, second] {
        const auto lines = watching.lines();
        return std::any_of(lines.begin(), lines.end(),
                           [](const std::string& line) {
                               const auto message = json::parse(line, nullptr, false);
                               return !message.is_discarded() && message.value("kind", "") == "videoConfig" &&
                                      message["body"]["width"] == 1920;
                           }) &&
               std::any_of(lines.begin(), lines.end(), [second](const std::string& line) {
                   const auto message = json::parse(line, nullptr, false);
                   return !message.is_discarded() && message.value("kind", "") == "welcome" &&
                          message["body"]["activeDisplay"] == second;
               });
    };
    ASSERT_TRUE(testing::waitUntil(watchingSecond, 10s)) << "the phone does not watch the second monitor";
    ASSERT_EQ(std::system("xrandr --delmonitor R >/dev/null"), 0);
    const auto watched = watching.waitForExit(30s);
    (void)std::system("xrandr --setmonitor R 1920/508x1080/286+1920+0 none >/dev/null");
    EXPECT_EQ(watched, 0) << "the phone was let go";
    std::vector<json> seen;
    for (const auto& line : watching.lines()) {
        if (auto message = json::parse(line, nullptr, false); !message.is_discarded()) {
            seen.push_back(std::move(message));
        }
    }
    const auto fallback = std::find_if(seen.begin(), seen.end(), [&](const json& message) {
        return message.value("kind", "") == "welcome" && message["body"]["activeDisplay"] == firstId &&
               message["body"]["displays"].size() == 1;
    });
    ASSERT_NE(fallback, seen.end()) << "no welcome showing the main monitor alone";
    EXPECT_TRUE(std::any_of(fallback, seen.end(), [](const json& message) {
        return message.value("kind", "") == "videoConfig" && message["body"]["width"] == 1920;
    })) << "no fresh stream of the main monitor";

    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForExit(), 0);
    EXPECT_THAT(host.errorOutput(), ::testing::HasSubstr("left"));
    std::filesystem::remove_all(directory);
}

// The key lives in the keyring: a restarted host prints a link with the same key.
TEST_F(DesktopHostTest, ARestartKeepsThePairingKey) {
    std::optional<PairingInfo> first;
    {
        ChildProcess host(brisholm, {"--print-link"});
        first = PairingInfo::fromURL(linkFrom(host));
        host.signal(SIGINT);
        EXPECT_EQ(host.waitForExit(), 0);
    }
    ChildProcess again(brisholm, {"--print-link"});
    const auto second = PairingInfo::fromURL(linkFrom(again));
    ASSERT_TRUE(first.has_value());
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(first->key, second->key);
}

// Started at log-in, standard output is the journal: it never gets the key, and it carries only
// pairing lines, even where the session has no system bus (nothing of a library's chatter).
TEST_F(DesktopHostTest, StandardOutputKeepsTheKeyOutAndCarriesOnlyPairingLines) {
    ChildProcess host(brisholm, {}, {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket"}});
    const auto line = host.waitForLine("pairing: ", 30s);
    ASSERT_TRUE(line.has_value()) << host.errorOutput();
    EXPECT_EQ(line->find("key="), std::string::npos) << *line;
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForExit(), 0);
    for (const auto& output : host.lines()) {
        EXPECT_EQ(output.rfind("pairing: ", 0), 0u) << "not a pairing line on standard output: " << output;
        EXPECT_EQ(output.find("key="), std::string::npos) << output;
    }
}

// A Wayland session where Qt can draw nowhere (no Wayland plugin or compositor it can use, no X
// display): the host still starts, says why there is no panel, and hands out its pairing link.
TEST_F(DesktopHostTest, WithoutAnywhereToDrawThePanelTheHostStillStarts) {
    ChildProcess host(brisholm, {"--print-link"},
                      {{"DISPLAY", {}},
                       {"QT_QPA_PLATFORM", {}},
                       {"XDG_SESSION_TYPE", "wayland"},
                       {"WAYLAND_DISPLAY", "/nonexistent/wayland-0"}});
    const auto line = host.waitForLine("pairing: ", 30s);
    ASSERT_TRUE(line.has_value()) << host.errorOutput();
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForExit(), 0);
    EXPECT_THAT(host.errorOutput(), ::testing::HasSubstr("no panel"));
}

}  // namespace
}  // namespace vantrel
