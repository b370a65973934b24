#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "ProbeHarness.hpp"

namespace vantrel::probe {
namespace {

using testing::keyOf;
using testing::linkFor;
using testing::runProbe;
using testing::ScriptedHost;
using testing::TestHost;

// Who answers on the port the link names.
enum class Peer { nobody, host, closesOnHello, welcomesWithVersion2 };

struct ErrorCase {
    const char* name;
    Peer peer;
    // The arguments, given the peer's port (a closed one for nobody).
    std::function<std::vector<std::string>(std::uint16_t port)> arguments;
    int exitCode;
    const char* messagePart;
};

std::string scriptFile(const std::string& content) {
    const auto path = std::filesystem::temp_directory_path() / ("vantrel-probe-script-" + std::to_string(getpid()));
    std::ofstream(path) << content;
    return path.string();
}

class ProbeExitTest : public ::testing::TestWithParam<ErrorCase> {};

// The probe as a user runs it: each failure ends with its own exit code and a message that
// says what most likely went wrong.
TEST_P(ProbeExitTest, ExitsWithItsCodeAndExplains) {
    const auto& param = GetParam();
    const Bytes key = keyOf(1);
    std::unique_ptr<TestHost> host;
    std::unique_ptr<ScriptedHost> scripted;
    std::uint16_t port = 0;
    switch (param.peer) {
        case Peer::nobody: port = testing::closedPort(); break;
        case Peer::host:
            host = std::make_unique<TestHost>(key);
            port = host->port();
            break;
        case Peer::closesOnHello:
            scripted = std::make_unique<ScriptedHost>(key, ScriptedHost::Behaviour::closeOnHello);
            port = scripted->port();
            break;
        case Peer::welcomesWithVersion2:
            scripted = std::make_unique<ScriptedHost>(key, ScriptedHost::Behaviour::welcomeVersion2);
            port = scripted->port();
            break;
    }
    const auto result = runProbe(param.arguments(port));
    EXPECT_EQ(result.exitCode, param.exitCode) << result.err;
    EXPECT_NE(result.err.find(param.messagePart), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    ErrorPaths, ProbeExitTest,
    ::testing::Values(
        ErrorCase{"LinkDoesNotParse", Peer::nobody,
                  [](std::uint16_t) { return std::vector<std::string>{"vantrel://pair?port=1&key=short"}; }, 3,
                  "the pairing link does not parse"},
        ErrorCase{"BadOption", Peer::nobody,
                  [](std::uint16_t port) {
                      return std::vector<std::string>{"--frames", "0", linkFor(port, keyOf(1))};
                  },
                  2, "--frames"},
        ErrorCase{"BadScript", Peer::nobody,
                  [](std::uint16_t port) {
                      return std::vector<std::string>{"--script", scriptFile("{\"ping\": \"a\"}\n{\"jump\": 1}\n"),
                                                      linkFor(port, keyOf(1))};
                  },
                  2, "line 2: unknown key \"jump\""},
        ErrorCase{"NoHostAnswers", Peer::nobody,
                  [](std::uint16_t port) { return std::vector<std::string>{linkFor(port, keyOf(1))}; }, 4,
                  "no host answered"},
        ErrorCase{"LinkWithoutHosts", Peer::nobody,
                  [](std::uint16_t port) { return std::vector<std::string>{linkFor(port, keyOf(1), {})}; }, 4,
                  "give one with --host"},
        ErrorCase{"WrongKey", Peer::host,
                  [](std::uint16_t port) { return std::vector<std::string>{linkFor(port, keyOf(2))}; }, 5,
                  "the pairing key is wrong or was rotated"},
        ErrorCase{"HostClosesDuringGreeting", Peer::closesOnHello,
                  [](std::uint16_t port) { return std::vector<std::string>{linkFor(port, keyOf(1))}; }, 6,
                  "most likely it speaks another protocol version"},
        ErrorCase{"HostWelcomesWithAnotherVersion", Peer::welcomesWithVersion2,
                  [](std::uint16_t port) { return std::vector<std::string>{linkFor(port, keyOf(1))}; }, 6,
                  "speaks protocol version 2"},
        ErrorCase{"HostOverridesTheLinksHosts", Peer::host,
                  [](std::uint16_t port) {
                      return std::vector<std::string>{"--host", "127.0.0.1", "--seconds", "0.2",
                                                      linkFor(port, keyOf(1), {"192.0.2.1"})};
                  },
                  0, "frames received:  0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProbeProcessTest, PrintsTheGreetingAsJsonAndStatisticsLast) {
    const Bytes key = keyOf(1);
    TestHost host(key);
    const auto result = runProbe({"--name", "Process Probe", "--seconds", "0.3", "--ping-every", "50",
                                  linkFor(host.port(), key, {"127.0.0.1"})});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(host.waitForEvent("client:Process Probe"));

    std::vector<nlohmann::json> lines;
    std::istringstream stream(result.out);
    for (std::string line; std::getline(stream, line);) {
        const auto parsed = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << line;
        lines.push_back(parsed);
    }
    ASSERT_GE(lines.size(), 2U) << result.out;
    EXPECT_EQ(lines.front()["kind"], "welcome");
    EXPECT_EQ(lines.front()["body"]["displays"][0]["name"], "Screen");
    ASSERT_TRUE(lines.back().contains("statistics"));
    EXPECT_GT(lines.back()["statistics"]["pingsSent"].get<int>(), 0);
}

TEST(ProbeProcessTest, HelpExplainsTheToolAndSucceeds) {
    const auto result = runProbe({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("Usage: vantrel-probe"), std::string::npos);
    EXPECT_NE(result.out.find("Exit codes:"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::probe
