#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ProbeHarness.hpp"
#include "Script.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::probe {
namespace {

using namespace std::chrono_literals;
using testing::keyOf;
using testing::SessionRun;
using testing::TestHost;

constexpr std::chrono::seconds generous{30};

VideoFrame syntheticFrame(bool isKeyframe, std::uint64_t timestamp) {
    // One well-formed length-prefixed unit; the tests that use it do not decode.
    return VideoFrame{isKeyframe, timestamp,
                      Bytes{0, 0, 0, 3, isKeyframe ? std::uint8_t{0x65} : std::uint8_t{0x41}, 1, 2}};
}

std::vector<nlohmann::json> parsedLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

std::vector<ScriptStep> script(std::string_view text) {
    auto parsed = parseScript(text);
    EXPECT_TRUE(std::holds_alternative<std::vector<ScriptStep>>(parsed));
    return std::get<std::vector<ScriptStep>>(parsed);
}

class SessionTest : public ::testing::Test {
protected:
    SessionSettings settings() {
        SessionSettings settings;
        settings.targets = testing::loopback(host.port());
        settings.deviceName = "Probe Test";
        settings.decode = false;
        return settings;
    }

    Bytes key = keyOf(1);
    TestHost host{key};
};

TEST_F(SessionTest, GreetsPrintsEveryMessageAndEndsAfterTheFrameLimit) {
    auto options = settings();
    options.frameLimit = 3;
    auto times = std::make_unique<std::ostringstream>();
    auto* frameTimes = times.get();
    options.frameTimes = std::move(times);
    SessionRun run(std::move(options), key);
    ASSERT_TRUE(host.waitForEvent("client:Probe Test"));

    host.server->send(VideoConfig{VideoCodec::h264, 640, 360, {Bytes{0x67, 1, 2}, Bytes{0x68, 3}}});
    for (std::uint64_t index = 0; index < 3; ++index) {
        host.server->send(syntheticFrame(index == 0, 1000 + index));
    }
    const auto result = run.waitForEnd(generous);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, ExitCode::ok) << result->message;

    const auto lines = parsedLines(run.lines());
    ASSERT_EQ(lines.size(), 6U) << run.lines();
    EXPECT_EQ(lines[0]["kind"], "welcome");
    EXPECT_EQ(lines[0]["body"]["hostName"], "Test Host");
    EXPECT_EQ(lines[1]["kind"], "videoConfig");
    EXPECT_EQ(lines[1]["body"]["parameterSetSizes"], (nlohmann::json{3, 2}));
    EXPECT_EQ(lines[2]["body"]["isKeyframe"], true);
    EXPECT_EQ(lines[4]["body"]["timestampMicros"], 1002);
    EXPECT_EQ(lines[5]["statistics"]["framesReceived"], 3);
    EXPECT_EQ(lines[5]["statistics"]["keyframes"], 1);
    EXPECT_NE(run.diagnostics().find("frames received:  3"), std::string::npos);

    // One line per frame: the host's stamp, the receipt on this machine's clock, and no decoding.
    std::istringstream timeLines(frameTimes->str());
    std::vector<std::string> stamps;
    for (std::string stamp, received, decoded; timeLines >> stamp >> received >> decoded;) {
        EXPECT_GT(std::stoll(received), 0);
        EXPECT_EQ(decoded, "-");
        stamps.push_back(stamp);
    }
    EXPECT_THAT(stamps, ::testing::ElementsAre("1000", "1001", "1002"));
}

TEST_F(SessionTest, TriesTheNextHostWhenOneDoesNotAnswer) {
    auto options = settings();
    const auto dead = testing::loopback(testing::closedPort());
    options.targets.insert(options.targets.begin(), dead.begin(), dead.end());
    SessionRun run(std::move(options), key);
    ASSERT_TRUE(host.waitForEvent("client:Probe Test"));
    EXPECT_TRUE(vantrel::testing::waitUntil([&] { return run.countKind("welcome") == 1; }, generous));
    EXPECT_NE(run.diagnostics().find(dead[0].label + ": "), std::string::npos);
    EXPECT_NE(run.diagnostics().find("trying the next host"), std::string::npos);
}

TEST_F(SessionTest, ScriptReachesTheHostInFileOrderAndPingsAreTimed) {
    auto options = settings();
    options.script = script(
        "{\"input\": {\"pointerMove\": {\"dx\": 3, \"dy\": 4}}}\n"
        "{\"delay\": 20, \"selectDisplay\": {\"id\": 2}}\n"
        "{\"openApp\": {\"id\": \"org.example.Editor\"}}\n"
        "{\"ping\": \"marker\"}\n"
        "{\"delay\": 10, \"requestKeyframe\": {}}\n"
        "{\"input\": {\"button\": {\"button\": \"left\", \"down\": true}}}\n"
        "{\"openApp\": {\"id\": \"last\"}}\n");
    SessionRun run(std::move(options), key);
    ASSERT_TRUE(host.waitForEvent("open:last"));
    ASSERT_TRUE(vantrel::testing::waitUntil([&] { return run.countKind("pong") == 1; }, generous));

    std::vector<std::string> phoneEvents;
    for (const auto& event : host.events()) {
        if (event.rfind("input:", 0) == 0 || event.rfind("display:", 0) == 0 || event.rfind("open:", 0) == 0 ||
            event == "keyframe") {
            // Input events are checked for their place, not their rendering.
            phoneEvents.push_back(event.rfind("input:", 0) == 0 ? "input" : event);
        }
    }
    // The greeting's own key-frame request comes first; then the script, line by line.
    EXPECT_THAT(phoneEvents, ::testing::ElementsAre("keyframe", "input", "display:2", "open:org.example.Editor",
                                                    "keyframe", "input", "open:last"));
    for (const auto& line : parsedLines(run.lines())) {
        if (line["kind"] == "pong") {
            EXPECT_EQ(line["size"], 6);
            EXPECT_TRUE(line.contains("roundTripMillis"));
        }
    }
}

// A phone that acknowledged once is measured by its acknowledgements from then on: stop
// acknowledging, and the host's backlog climbs until it drops frames; keep acknowledging, and
// every frame gets through.
TEST_F(SessionTest, AcknowledgementsKeepTheHostsBacklogDown) {
    constexpr std::uint64_t frameCount = 30;
    const AppList sentinel({AppEntry{"sentinel", "Sentinel", true, std::nullopt}});

    {
        auto options = settings();
        options.script = script("{\"frameAck\": {}}\n{\"requestKeyframe\": {}}\n");
        SessionRun run(std::move(options), key);
        // The second key-frame request is the script's: the acknowledgement before it has arrived.
        ASSERT_TRUE(vantrel::testing::waitUntil([&] { return host.count("keyframe") >= 2; }, generous));
        for (std::uint64_t index = 0; index < frameCount; ++index) {
            host.server->send(syntheticFrame(index == 0, index));
        }
        host.server->send(sentinel);  // queued behind the frames: once it is here, all frames are
        ASSERT_TRUE(vantrel::testing::waitUntil([&] { return run.countKind("apps") == 1; }, generous));
        const auto received = run.countKind("videoFrame");
        EXPECT_GE(received, 1U);
        EXPECT_LT(received, frameCount) << "a phone that stopped acknowledging was sent every frame";
    }
    ASSERT_TRUE(host.waitForEvent("client:-"));

    auto options = settings();
    options.acknowledgeFrames = true;
    SessionRun run(std::move(options), key);
    ASSERT_TRUE(vantrel::testing::waitUntil([&] { return host.count("client:Probe Test") == 2; }, generous));
    for (std::uint64_t index = 0; index < frameCount; ++index) {
        host.server->send(syntheticFrame(index == 0, index));
        ASSERT_TRUE(vantrel::testing::waitUntil([&] { return run.countKind("videoFrame") == index + 1; }, generous))
            << "frame " << index << " was dropped although every frame was acknowledged";
    }
}

TEST_F(SessionTest, TheHostEndingTheSessionIsALostConnection) {
    SessionRun run(settings(), key);
    ASSERT_TRUE(host.waitForEvent("client:Probe Test"));
    ASSERT_TRUE(vantrel::testing::waitUntil([&] { return run.countKind("welcome") == 1; }, generous));
    host.server->disconnectClient();
    const auto result = run.waitForEnd(generous);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, ExitCode::connectionLost);
    EXPECT_NE(result->message.find("ended the session"), std::string::npos) << result->message;
    EXPECT_NE(run.lines().find("\"statistics\""), std::string::npos);
}

TEST_F(SessionTest, StoppingAfterTheGreetingIsSuccessAndBeforeItIsAnInterruption) {
    {
        SessionRun run(settings(), key);
        ASSERT_TRUE(vantrel::testing::waitUntil([&] { return run.countKind("welcome") == 1; }, generous));
        run.stop();
        const auto result = run.waitForEnd(generous);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->code, ExitCode::ok);
    }
    testing::ScriptedHost silent(key, testing::ScriptedHost::Behaviour::neverAnswer);
    auto options = settings();
    options.targets = testing::loopback(silent.port());
    SessionRun run(std::move(options), key);
    run.stop();
    const auto result = run.waitForEnd(generous);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, ExitCode::interrupted);
    EXPECT_EQ(run.lines(), "");  // no statistics for a session that never began
}

TEST_F(SessionTest, AHostThatNeverWelcomesTimesOutAsARefusedGreeting) {
    testing::ScriptedHost silent(key, testing::ScriptedHost::Behaviour::neverAnswer);
    auto options = settings();
    options.targets = testing::loopback(silent.port());
    options.greetingTimeout = 300ms;
    SessionRun run(std::move(options), key);
    const auto result = run.waitForEnd(generous);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->code, ExitCode::greetingRefused);
    EXPECT_NE(result->message.find("sent no welcome"), std::string::npos) << result->message;
}

}  // namespace
}  // namespace vantrel::probe
