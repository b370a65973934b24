// The real brisholm binary, started as a user starts it, seen only from outside: its log lines,
// its exit status, and what a peer on loopback gets from it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <csignal>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "vantrel/ControlMessages.hpp"
#include "vantrel/Frame.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

const std::string brisholm = VANTREL_BRISHOLM;

std::optional<PairingInfo> pairingFrom(const std::optional<std::string>& line) {
    if (!line) {
        return std::nullopt;
    }
    return PairingInfo::fromURL(line->substr(std::string("pairing: ").size()));
}

// The TLS pre-shared key as an independent peer computes it from the printed link:
// HMAC-SHA256 of "vantrel-psk-v1" under the pairing key, as hex for openssl's -psk.
std::string pskHex(const Bytes& key) {
    static constexpr std::string_view label = "vantrel-psk-v1";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(label.data()),
         label.size(), digest, &length);
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(hex[digest[i] >> 4]);
        text.push_back(hex[digest[i] & 0xF]);
    }
    return text;
}

// A headless option without --headless is a mistake the desktop host names instead of running
// anyway; --help and --version answer on standard output and end at once.
TEST(EntryPoint, AHeadlessOptionWithoutHeadlessIsRefusedAndHelpAnswers) {
    ChildProcess mistaken(brisholm, {"--port", "0"});
    ASSERT_TRUE(mistaken.started());
    EXPECT_EQ(mistaken.waitForExit(), 2);
    EXPECT_NE(mistaken.errorOutput().find("--headless"), std::string::npos) << mistaken.errorOutput();
    EXPECT_TRUE(mistaken.lines().empty());

    ChildProcess help(brisholm, {"--help"});
    EXPECT_EQ(help.waitForExit(), 0);
    EXPECT_NE(help.output().find("--two-displays"), std::string::npos);
    EXPECT_TRUE(help.errorOutput().empty()) << help.errorOutput();
}

class SignalEnd : public ::testing::TestWithParam<int> {};

// Started without any display, the host logs its applications and then its pairing link, and a
// signal ends it promptly and cleanly.
TEST_P(SignalEnd, StartsWithoutADisplayAndEndsCleanly) {
    ChildProcess host(brisholm, {"--headless", "--port", "0", "--name", "Prüfstand"},
                      {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
    ASSERT_TRUE(host.started());
    const auto pairing = pairingFrom(host.waitForLine("pairing: "));
    ASSERT_TRUE(pairing.has_value()) << host.errorOutput();
    EXPECT_EQ(pairing->name, "Prüfstand");
    EXPECT_EQ(pairing->hosts, std::vector<std::string>{"127.0.0.1"});
    EXPECT_NE(pairing->port, 0);
    EXPECT_EQ(pairing->key.size(), PairingInfo::keyLength);

    const auto lines = host.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("apps: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("pairing: ", 0), 0u) << lines[1];

    host.signal(GetParam());
    EXPECT_EQ(host.waitForExit(10s), 0) << host.errorOutput();
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalEnd, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& info) { return info.param == SIGINT ? "SIGINT" : "SIGTERM"; });

TEST(HeadlessHostEndToEnd, EveryRunHasAFreshKey) {
    ChildProcess first(brisholm, {"--headless", "--port", "0"});
    ChildProcess second(brisholm, {"--headless", "--port", "0"});
    const auto one = pairingFrom(first.waitForLine("pairing: "));
    const auto two = pairingFrom(second.waitForLine("pairing: "));
    ASSERT_TRUE(one && two);
    EXPECT_NE(one->key, two->key);
    EXPECT_NE(one->port, two->port);
    EXPECT_EQ(one->name, "headless");
}

// openssl s_client as an independent TLS peer: TLS 1.2, the one PSK suite, the key derived from
// the printed link. A hello frame on its standard input is answered by a welcome frame.
TEST(HeadlessHostEndToEnd, OpenSSLClientWithTheLinksKeyIsWelcomed) {
    ChildProcess host(brisholm, {"--headless", "--port", "0", "--name", "ssl-test"});
    const auto pairing = pairingFrom(host.waitForLine("pairing: "));
    ASSERT_TRUE(pairing.has_value()) << host.errorOutput();

    ChildProcess client("/usr/bin/openssl", {"s_client", "-connect", "127.0.0.1:" + std::to_string(pairing->port),
                                             "-tls1_2", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305", "-psk",
                                             pskHex(pairing->key), "-psk_identity", "vantrel", "-quiet"});
    ASSERT_TRUE(client.started());
    const Bytes hello = makeFrame(MessageType::hello, JSONMessage::encode(Hello{1, "openssl"}));
    client.write(std::string(hello.begin(), hello.end()));

    ASSERT_TRUE(client.waitForOutput(frameHeaderLength, 20s)) << client.errorOutput();
    const std::string head = client.output().substr(0, frameHeaderLength);
    const std::uint32_t length = (std::uint32_t{static_cast<std::uint8_t>(head[0])} << 24) |
                                 (std::uint32_t{static_cast<std::uint8_t>(head[1])} << 16) |
                                 (std::uint32_t{static_cast<std::uint8_t>(head[2])} << 8) |
                                 std::uint32_t{static_cast<std::uint8_t>(head[3])};
    EXPECT_EQ(static_cast<std::uint8_t>(head[4]), rawValue(MessageType::welcome));
    ASSERT_LT(length, 65536u);
    ASSERT_TRUE(client.waitForOutput(frameHeaderLength + length, 20s));
    const std::string body = client.output().substr(frameHeaderLength, length);
    const auto welcome = JSONMessage::decode<Welcome>(Bytes(body.begin(), body.end()));
    ASSERT_TRUE(welcome.has_value()) << body;
    EXPECT_EQ(*welcome, (Welcome{1, "ssl-test", {{1, "Testbild", 1280, 720}}, 1, false}));
    EXPECT_TRUE(host.waitForLine("client: openssl").has_value());

    client.signal(SIGTERM);
    EXPECT_TRUE(host.waitForLine("client: none").has_value());
}

// The peer the next test starts may leave before the test has written to it (TLS refuses it at
// once): the write then fails quietly instead of ending the test with SIGPIPE.
TEST(ChildProcessHarness, AWriteToAChildThatLeftFailsQuietly) {
    ChildProcess gone("/bin/true", {});
    ASSERT_EQ(gone.waitForExit(), 0);
    gone.write("hello");
    EXPECT_TRUE(gone.output().empty());
}

// A peer with the wrong key is refused by TLS and never becomes the client; the diagnostic log on
// standard error names the peer and the reason, and standard output keeps only its event lines.
TEST(HeadlessHostEndToEnd, OpenSSLClientWithAnotherKeyIsRefusedAndTheLogSaysWhy) {
    ChildProcess host(brisholm, {"--headless", "--port", "0", "--verbose"});
    const auto pairing = pairingFrom(host.waitForLine("pairing: "));
    ASSERT_TRUE(pairing.has_value());
    ChildProcess client("/usr/bin/openssl", {"s_client", "-connect", "127.0.0.1:" + std::to_string(pairing->port),
                                             "-tls1_2", "-cipher", "ECDHE-PSK-CHACHA20-POLY1305", "-psk",
                                             pskHex(Bytes(32, 7)), "-psk_identity", "vantrel", "-quiet"});
    const Bytes hello = makeFrame(MessageType::hello, JSONMessage::encode(Hello{1, "intruder"}));
    client.write(std::string(hello.begin(), hello.end()));
    const auto status = client.waitForExit(20s);
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(*status, 0);
    EXPECT_TRUE(client.output().empty());
    EXPECT_FALSE(host.waitForLine("client: ", 200ms).has_value());

    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForExit(), 0);
    EXPECT_THAT(host.errorOutput(), ::testing::HasSubstr("TLS handshake with 127.0.0.1:"));
    EXPECT_THAT(host.errorOutput(), ::testing::HasSubstr("failed"));
    for (const auto& line : host.lines()) {
        EXPECT_EQ(line.find("brisholm:"), std::string::npos) << "a diagnostic on standard output: " << line;
    }
}

}  // namespace
}  // namespace vantrel
