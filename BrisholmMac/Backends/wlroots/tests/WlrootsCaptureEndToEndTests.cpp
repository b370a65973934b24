// The desktop host as a user runs it in a wlroots session (a sway of the test's own with two
// outputs), with vantrel-probe as the phone: the welcome names both outputs, and the decoded
// pictures show what was drawn on each. The pairing link needs an address a phone could reach,
// so the test gives its private network namespace one (a veth pair on a private network).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

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
#include "PrivateSway.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::ChildProcess;
using testing::PrivateSway;

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

    PrivateSway sway_{{{1280, 720}, {1024, 768}}, {"default_border none"}};
    std::optional<testing::PrivateAddress> address_;
};

TEST_F(WlrootsHostTest, APhoneSeesBothOutputsByNameAndWhatWasDrawnOnEach) {
    // HEADLESS-1 shows an orange terminal over all of it, HEADLESS-2 a green background.
    ASSERT_FALSE(sway_.message("'output HEADLESS-2 bg #20c040 solid_color'").empty());
    ASSERT_FALSE(sway_.message("'focus output HEADLESS-1'").empty());
    ASSERT_TRUE(sway_.launch("foot -a paint -o colors.background=ff8800 sleep 120"));
    ASSERT_TRUE(testing::waitUntil([&] { return sway_.focusedName() == "paint"; }, 10s));

    // The host's own panel draws off screen, out of the pictures.
    ChildProcess host(brisholm, {"--verbose", "--print-link"},
                      {{"WAYLAND_DISPLAY", sway_.waylandDisplay()},
                       {"XDG_SESSION_TYPE", "wayland"},
                       {"DISPLAY", {}},
                       {"QT_QPA_PLATFORM", "offscreen"}});
    const auto line = host.waitForLine("pairing: ", 30s);
    ASSERT_TRUE(line.has_value()) << host.errorOutput();
    const auto link = line->substr(std::string("pairing: ").size());

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

    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForExit(), 0);
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace vantrel
