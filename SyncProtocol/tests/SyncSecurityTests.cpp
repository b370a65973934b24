#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <string>

#include "vantrel/SyncSecurity.hpp"

namespace vantrel {
namespace {

using SyncSecurity::Endpoint;

Bytes fromHex(std::string_view hex) {
    Bytes bytes;
    for (std::size_t index = 0; index + 1 < hex.size(); index += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(index, 2)), nullptr, 16)));
    }
    return bytes;
}

// Reference values from `printf vantrel-psk-v1 | openssl dgst -sha256 -mac HMAC -macopt hexkey:<key>`:
// the phone derives the same bytes, so these pin the derivation, not just its determinism.
TEST(SyncSecurityTest, PreSharedKeyIsHmacSha256OfTheLabel) {
    Bytes counting(32);
    for (std::size_t index = 0; index < counting.size(); ++index) {
        counting[index] = static_cast<std::uint8_t>(index);
    }
    EXPECT_EQ(SyncSecurity::preSharedKey(counting),
              fromHex("471428ad0462b02e42be9b5c6dc029ab394417cc3664bd97c6ed5c657bb7d29a"));
    EXPECT_EQ(SyncSecurity::preSharedKey({}),
              fromHex("996deecd0ef6bccef8ee32ab48f8fde7cb997a8540a0ab7d42d219f3a21abcec"));
    Bytes other = counting;
    other[31] ^= 1;
    EXPECT_NE(SyncSecurity::preSharedKey(other), SyncSecurity::preSharedKey(counting));
    EXPECT_EQ(SyncSecurity::identity, "vantrel");
}

// Both roles must offer exactly TLS 1.2 and the one suite, or a client built from the same
// parameters could negotiate something the phone never would.
TEST(SyncSecurityTest, BothRolesOfferOnlyTls12WithTheOnePskSuite) {
    const auto parameters = SyncSecurity::parameters(Bytes(32, 7));
    for (const auto role : {SyncSecurity::Role::server, SyncSecurity::Role::client}) {
        SSL_CTX* context = parameters.context(role)->native_handle();
        EXPECT_EQ(SSL_CTX_get_min_proto_version(context), TLS1_2_VERSION);
        EXPECT_EQ(SSL_CTX_get_max_proto_version(context), TLS1_2_VERSION);
        // The list also names the TLS 1.3 suites, which the version range rules out.
        std::vector<std::uint16_t> tls12Suites;
        STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(context);
        for (int index = 0; index < sk_SSL_CIPHER_num(ciphers); ++index) {
            const SSL_CIPHER* cipher = sk_SSL_CIPHER_value(ciphers, index);
            if (std::string_view(SSL_CIPHER_get_version(cipher)) != "TLSv1.3") {
                tls12Suites.push_back(SSL_CIPHER_get_protocol_id(cipher));
            }
        }
        EXPECT_EQ(tls12Suites, std::vector<std::uint16_t>{SyncSecurity::ecdhePskChaCha20Poly1305});
        EXPECT_EQ(SSL_CTX_get_verify_mode(context), SSL_VERIFY_NONE);
    }
    EXPECT_TRUE(parameters.tcp().noDelay);
    EXPECT_EQ(parameters.tcp().keepAliveIdle, std::chrono::seconds(10));
    EXPECT_EQ(parameters.tcp().connectTimeout, std::chrono::seconds(8));
}

struct PeerCase {
    std::string address;
    bool allowed;
};

class PeerFilter : public ::testing::TestWithParam<PeerCase> {};

// Runs each address through the path the listener uses: an Asio endpoint turned into ours.
TEST_P(PeerFilter, JudgesTheAddress) {
    const auto address = asio::ip::make_address(GetParam().address);
    const auto endpoint = Endpoint::from(asio::ip::tcp::endpoint(address, 47823));
    EXPECT_EQ(SyncSecurity::isAllowedPeer(endpoint), GetParam().allowed) << GetParam().address;
    if (address.is_v4()) {
        const auto bytes = address.to_v4().to_bytes();
        EXPECT_EQ(SyncSecurity::isAllowedIPv4(bytes), GetParam().allowed) << GetParam().address;
    }
}

INSTANTIATE_TEST_SUITE_P(
    SyncSecurityTest, PeerFilter,
    ::testing::Values(
        // IPv4 allowed: private, loopback, shared address space, link-local, at their edges.
        PeerCase{"10.0.0.1", true}, PeerCase{"10.255.255.255", true}, PeerCase{"127.0.0.1", true},
        PeerCase{"100.64.0.1", true}, PeerCase{"100.127.255.255", true}, PeerCase{"169.254.3.4", true},
        PeerCase{"172.16.0.1", true}, PeerCase{"172.31.255.255", true}, PeerCase{"192.168.1.10", true},
        // IPv4 refused: just outside each range, and the rest of the world.
        PeerCase{"0.0.0.0", false}, PeerCase{"9.255.255.255", false}, PeerCase{"11.0.0.1", false},
        PeerCase{"100.63.255.255", false}, PeerCase{"100.128.0.0", false}, PeerCase{"169.253.0.1", false},
        PeerCase{"169.255.0.1", false}, PeerCase{"172.15.255.255", false}, PeerCase{"172.32.0.0", false},
        PeerCase{"192.167.1.1", false}, PeerCase{"192.169.0.1", false}, PeerCase{"8.8.8.8", false},
        PeerCase{"255.255.255.255", false}, PeerCase{"224.0.0.251", false},
        // IPv4-mapped IPv6 follows the IPv4 rule.
        PeerCase{"::ffff:192.168.1.5", true}, PeerCase{"::ffff:8.8.8.8", false}, PeerCase{"::ffff:127.0.0.1", true},
        // IPv6 allowed: link-local, loopback, unique local.
        PeerCase{"fe80::1", true}, PeerCase{"febf:ffff::", true}, PeerCase{"::1", true}, PeerCase{"fc00::1", true},
        PeerCase{"fd12:3456::1", true},
        // IPv6 refused: site-local, unspecified, global, IPv4-compatible, multicast.
        PeerCase{"fec0::1", false}, PeerCase{"fe7f::1", false}, PeerCase{"::", false}, PeerCase{"2001:db8::1", false},
        PeerCase{"::192.168.1.5", false}, PeerCase{"::2", false}, PeerCase{"ff02::1", false},
        PeerCase{"fe::1", false}));

TEST(SyncSecurityTest, NamesOtherEndpointsAndMalformedAddressesAreRefused) {
    EXPECT_FALSE(SyncSecurity::isAllowedPeer(Endpoint{Endpoint::Kind::hostName, {}, "localhost", 47823}));
    EXPECT_FALSE(SyncSecurity::isAllowedPeer(Endpoint{Endpoint::Kind::hostName, {}, "192.168.1.5", 47823}));
    EXPECT_FALSE(SyncSecurity::isAllowedPeer(Endpoint{Endpoint::Kind::other, {}, "/run/socket", 0}));
    EXPECT_FALSE(SyncSecurity::isAllowedPeer(Endpoint{Endpoint::Kind::ipv4, {192, 168, 1}, "", 1}));
    EXPECT_FALSE(SyncSecurity::isAllowedPeer(Endpoint{Endpoint::Kind::ipv4, {192, 168, 1, 1, 0}, "", 1}));
    EXPECT_FALSE(SyncSecurity::isAllowedPeer(Endpoint{Endpoint::Kind::ipv6, {192, 168, 1, 1}, "", 1}));
    EXPECT_FALSE(SyncSecurity::isAllowedPeer(Endpoint{Endpoint::Kind::ipv6, Bytes(15, 0), "", 1}));
    EXPECT_FALSE(SyncSecurity::isAllowedIPv4({}));
}

}  // namespace
}  // namespace vantrel
