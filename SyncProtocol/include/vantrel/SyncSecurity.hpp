#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "vantrel/Bytes.hpp"

namespace vantrel {

// How a connection between phone and host is protected, and which remote addresses the host
// talks to at all. Possession of the pairing key is the only credential: there are no
// certificates anywhere. Everything here is a pure function of its arguments and may be called
// from any thread.
namespace SyncSecurity {

// TLS_ECDHE_PSK_WITH_CHACHA20_POLY1305_SHA256 (RFC 7905), the one suite either side offers.
inline constexpr std::uint16_t ecdhePskChaCha20Poly1305 = 0xCCAC;
// Its OpenSSL name, for the TLS 1.2 cipher list.
inline constexpr std::string_view ecdhePskChaCha20Poly1305Name = "ECDHE-PSK-CHACHA20-POLY1305";

// The HMAC message that turns a pairing key into the TLS pre-shared key.
inline constexpr std::string_view derivationLabel = "vantrel-psk-v1";
// The pre-shared-key identity both sides send and expect.
inline constexpr std::string_view identity = "vantrel";

// HMAC-SHA256 of derivationLabel under the pairing key: the 32 bytes TLS uses. The pairing key
// itself never reaches TLS. Keys of any length are accepted.
[[nodiscard]] Bytes preSharedKey(ByteView pairingKey);

enum class Role { server, client };

// The TCP options every connection uses.
struct TcpOptions {
    bool noDelay = true;
    bool keepAlive = true;
    std::chrono::seconds keepAliveIdle{10};  // before the first probe; interval and count stay default
    std::chrono::seconds connectTimeout{8};  // clients only
};

// One set of connection parameters for one pairing key: the OpenSSL contexts of both roles,
// configured identically (TLS 1.2 only, the single PSK suite, the derived key with identity
// "vantrel", no certificate, no verification hook, no ALPN), plus the TCP options.
//
// Build it once per listener or client and share it among its connections: the contexts are
// made once, so a flood of handshakes does not also pay for context set-up. Immutable after
// construction, so it may be shared across threads.
class Parameters {
public:
    // The OpenSSL context for one side. Connections keep it alive as long as they run.
    [[nodiscard]] const std::shared_ptr<asio::ssl::context>& context(Role role) const {
        return role == Role::server ? server_ : client_;
    }

    [[nodiscard]] const TcpOptions& tcp() const { return tcp_; }

    // Sets no-delay and keep-alive on a connected socket. Failures are ignored: an option the
    // socket refuses does not make the connection unusable.
    void applyTcpOptions(asio::ip::tcp::socket& socket) const;

private:
    friend Parameters parameters(ByteView key);
    Parameters(std::shared_ptr<asio::ssl::context> server, std::shared_ptr<asio::ssl::context> client)
        : server_(std::move(server)), client_(std::move(client)) {}

    std::shared_ptr<asio::ssl::context> server_;
    std::shared_ptr<asio::ssl::context> client_;
    TcpOptions tcp_;
};

// Fresh parameters for the given pairing key. Cannot fail for any key length.
[[nodiscard]] Parameters parameters(ByteView key);

// A remote endpoint as the peer filter sees it.
struct Endpoint {
    enum class Kind { ipv4, ipv6, hostName, other };

    Kind kind = Kind::other;
    Bytes address;     // ipv4: 4 bytes, ipv6: 16 bytes, network order
    std::string host;  // hostName only
    std::uint16_t port = 0;

    // What the listener sees of an accepted connection.
    [[nodiscard]] static Endpoint from(const asio::ip::tcp::endpoint& endpoint);
};

// The IPv4 allow rule: private, loopback, shared (100.64/10) and link-local addresses; exactly
// four bytes, else refused.
[[nodiscard]] bool isAllowedIPv4(ByteView address);

// Whether the host may talk to this peer at all: private and local networks only. Host names
// (localhost included) and anything that is not an address are refused.
[[nodiscard]] bool isAllowedPeer(const Endpoint& endpoint);

}  // namespace SyncSecurity
}  // namespace vantrel
