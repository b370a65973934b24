// The desktop host as a user runs it in a GNOME session on Wayland (a headless compositor of the
// test's own, PrivateMutter), with vantrel-probe as the phone: the welcome, the pictures, typing
// into a terminal right after connecting (characters outside the layout included), a display
// switch, and nothing left pressed. The pairing link needs an address a phone could reach, so each
// test gives its private network namespace one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "PhoneVisit.hpp"
#include "PrivateAddress.hpp"
#include "PrivateMutter.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::ChildProcess;
using testing::PrivateMutter;
using testing::waitUntil;

const std::string brisholm = VANTREL_BRISHOLM;
const std::string probe = VANTREL_PROBE;

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class GnomeHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("VANTREL_TEST_SESSION") == nullptr || ::geteuid() != 0) {
            GTEST_SKIP() << "needs the private test session as root (scripts/test-session.sh): a network namespace "
                            "of its own";
        }
        mutter_.emplace(PrivateMutter::Options{{"1280x720", "800x600"}, {}, {}});
        if (mutter_->failure()) {
            GTEST_SKIP() << "no headless GNOME compositor: " << *mutter_->failure();
        }
        address_.emplace();
        if (!address_->ok()) {
            GTEST_SKIP() << "cannot give the namespace a private address";
        }
        directory_ = mutter_->directory() + "/e2e";
        std::filesystem::create_directories(directory_);
    }

    // The host on the compositor's session (the environment PrivateMutter set); Qt draws its panel
    // off screen, as no Qt platform for Wayland is installed.
    std::unique_ptr<ChildProcess> startHost() {
        auto host = std::make_unique<ChildProcess>(
            brisholm, std::vector<std::string>{"--verbose", "--print-link"},
            std::map<std::string, std::optional<std::string>>{{"QT_QPA_PLATFORM", "offscreen"}});
        const auto line = host->waitForLine("pairing: ", 30s);
        link_ = line ? line->substr(std::string("pairing: ").size()) : std::string();
        return host;
    }

    testing::PhoneVisit runProbe(std::vector<std::string> arguments, const std::vector<std::string>& script = {}) {
        if (!script.empty()) {
            const auto path = directory_ + "/script" + std::to_string(++scripts_);
            std::ofstream file(path);
            for (const auto& line : script) {
                file << line << "\n";
            }
            arguments.push_back("--script");
            arguments.push_back(path);
        }
        return testing::visitHost(probe, link_, std::move(arguments));
    }

    // Whether a saved picture shows the terminal's colour in its middle.
    static bool aPictureShowsTheTerminal(const std::string& frames) {
        const auto pictures = testing::savedPictures(frames);
        return std::any_of(pictures.begin(), pictures.end(), [](const testing::SavedPicture& picture) {
            return picture.near(picture.width / 2, picture.height / 2, 0x336699);
        });
    }

    std::optional<PrivateMutter> mutter_;
    std::optional<testing::PrivateAddress> address_;
    std::string directory_;
    std::string link_;
    int scripts_ = 0;
};

TEST_F(GnomeHostTest, APhoneWatchesTypesSwitchesAndLeavesNothingPressed) {
    const std::string typed = directory_ + "/typed.txt";
    mutter_->launch({"foot", "--fullscreen", "--override=colors.background=336699", "sh", "-c", "cat > " + typed});
    const auto host = startHost();
    ASSERT_FALSE(link_.empty()) << host->errorOutput();

    // Text typed the moment the phone is in: the session is new, and no key of it may be lost. What
    // the layout (us) lacks is pasted in its place.
    const auto frames = directory_ + "/frames";
    const auto first = runProbe({"--seconds", "2.5", "--save-frames", frames},
                                {R"({"input": {"text": {"_0": "Hello from the phone, 1+1=2!\n"}}})",
                                 R"({"input": {"text": {"_0": "Grüße € ñ 日本語 😀\n"}}})"});
    ASSERT_EQ(first.status, 0);
    const auto welcomes = first.ofKind("welcome");
    ASSERT_EQ(welcomes.size(), 1U);
    const auto& welcome = welcomes[0]["body"];
    ASSERT_EQ(welcome["displays"].size(), 2U);
    EXPECT_EQ(welcome["displays"][0]["name"], "MetaVendor (Meta-0)");
    EXPECT_EQ(welcome["displays"][0]["width"], 1280);
    EXPECT_EQ(welcome["displays"][1]["name"], "MetaVendor (Meta-1)");
    EXPECT_EQ(welcome["displays"][1]["height"], 600);
    EXPECT_TRUE(welcome["canControl"].get<bool>());
    const std::string text = "Hello from the phone, 1+1=2!\nGrüße € ñ 日本語 😀\n";
    EXPECT_TRUE(waitUntil([&] { return fileText(typed) == text; }, 10s)) << fileText(typed);
    EXPECT_TRUE(aPictureShowsTheTerminal(frames)) << "no decoded picture shows the terminal";

    // The second monitor: a new welcome naming it, then its stream from a key frame.
    const auto second = welcome["displays"][1]["id"].get<std::uint32_t>();
    const auto switched = runProbe({"--seconds", "2.5", "--no-decode"},
                                   {R"({"delay": 300, "selectDisplay": {"id": )" + std::to_string(second) + "}}"});
    ASSERT_EQ(switched.status, 0);
    const auto later = switched.ofKind("welcome");
    ASSERT_EQ(later.size(), 2U) << "the display choice republishes the welcome";
    EXPECT_EQ(later[1]["body"]["activeDisplay"], second);
    bool configured = false;
    bool keyFrameAfter = false;
    for (const auto& message : switched.messages) {
        if (message.value("kind", "") == "videoConfig" && message["body"]["width"] == 800) {
            configured = true;
        } else if (configured && message.value("kind", "") == "videoFrame") {
            keyFrameAfter = keyFrameAfter || message["body"]["isKeyframe"].get<bool>();
        }
    }
    EXPECT_TRUE(configured) << "no stream configuration of the second monitor";
    EXPECT_TRUE(keyFrameAfter) << "no key frame of the second monitor";

    // A phone that leaves holding Shift leaves nothing pressed: the next one types small letters.
    const auto left = runProbe({"--seconds", "1", "--no-decode"},
                               {R"({"delay": 200, "input": {"key": {"code": 56, "down": true, "modifiers": 0}}})"});
    ASSERT_EQ(left.status, 0);
    // Back on the first monitor, where the terminal is.
    const auto first_id = welcome["displays"][0]["id"].get<std::uint32_t>();
    const auto after =
        runProbe({"--seconds", "2", "--no-decode"}, {R"({"selectDisplay": {"id": )" + std::to_string(first_id) + "}}",
                                                     R"({"delay": 300, "input": {"text": {"_0": "ab\n"}}})"});
    ASSERT_EQ(after.status, 0);
    EXPECT_TRUE(waitUntil([&] { return fileText(typed) == text + "ab\n"; }, 10s)) << fileText(typed);

    host->signal(SIGTERM);
    EXPECT_EQ(host->waitForExit(), 0);
    EXPECT_THAT(host->errorOutput(), ::testing::HasSubstr("desktop backend: wayland-gnome"));
}

}  // namespace
}  // namespace vantrel
