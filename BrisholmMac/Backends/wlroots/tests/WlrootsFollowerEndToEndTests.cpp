// The desktop host as a user runs it in a sway session (a private headless sway with two outputs,
// no X display), with vantrel-probe as the phone: a window that opens on the output the phone
// does not watch takes the phone there. The pairing link needs an address a phone could reach, so
// the test gives its private network namespace one (a veth pair on a private network).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "ChildProcess.hpp"
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

class WlrootsFollowerTest : public ::testing::Test {
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

    PrivateSway sway_{{{1280, 720}, {1024, 768}}};
    std::optional<testing::PrivateAddress> address_;
};

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

TEST_F(WlrootsFollowerTest, AWindowOpeningOnTheOtherOutputTakesThePhoneThere) {
    ASSERT_TRUE(sway_.launch("foot --app-id org.vantrel.Resident cat"));
    // The session as a user of sway has it: Wayland only. Qt draws the panel offscreen, since
    // this machine has no Wayland platform for it.
    ChildProcess host(brisholm, {"--verbose", "--print-link"},
                      {{"WAYLAND_DISPLAY", sway_.waylandDisplay()},
                       {"XDG_SESSION_TYPE", "wayland"},
                       {"DISPLAY", std::nullopt},
                       {"QT_QPA_PLATFORM", "offscreen"}});
    const auto line = host.waitForLine("pairing: ", 30s);
    ASSERT_TRUE(line.has_value()) << host.errorOutput();
    const auto link = line->substr(std::string("pairing: ").size());

    ChildProcess phone(probe, {"--seconds", "20", "--no-decode", link});
    ASSERT_TRUE(vantrel::testing::waitUntil([&] { return !welcomes(phone).empty(); }, 20s)) << host.errorOutput();
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
                          << host.errorOutput();

    phone.signal(SIGTERM);
    (void)phone.waitForExit(10s);
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForExit(30s), 0) << host.errorOutput();
}

}  // namespace
}  // namespace vantrel
