#include "vantrel/SyncSecurity.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace vantrel::SyncSecurity {
namespace {

// An OpenSSL context together with the derived key its PSK callbacks hand out. The callbacks
// find it through an ex_data slot of the context (Asio keeps its own verify callback in the app
// data slot and deletes whatever it finds there), so the two live and die together; connections
// hold the context through an aliasing pointer to this holder.
struct ContextHolder {
    ContextHolder(asio::ssl::context::method method, Bytes key) : context(method), psk(std::move(key)) {}
    ~ContextHolder() { OPENSSL_cleanse(psk.data(), psk.size()); }
    ContextHolder(const ContextHolder&) = delete;
    ContextHolder& operator=(const ContextHolder&) = delete;

    asio::ssl::context context;
    Bytes psk;
};

int holderSlot() {
    static const int slot = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return slot;
}

const ContextHolder* holderOf(SSL* ssl) {
    return static_cast<const ContextHolder*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), holderSlot()));
}

// Server side: the client names its key; anything but our identity fails the handshake
// (the client sees "unknown psk identity").
unsigned int serverPsk(SSL* ssl, const char* clientIdentity, unsigned char* psk, unsigned int maxLength) {
    const ContextHolder* holder = holderOf(ssl);
    if (holder == nullptr || clientIdentity == nullptr || std::string_view(clientIdentity) != identity ||
        holder->psk.size() > maxLength) {
        return 0;
    }
    std::memcpy(psk, holder->psk.data(), holder->psk.size());
    return static_cast<unsigned int>(holder->psk.size());
}

// Client side: send our identity (OpenSSL wants it NUL-terminated; the terminator does not go
// on the wire) and the derived key. The server's hint, if any, is of no interest.
unsigned int clientPsk(SSL* ssl, const char* /*hint*/, char* clientIdentity, unsigned int maxIdentityLength,
                       unsigned char* psk, unsigned int maxLength) {
    const ContextHolder* holder = holderOf(ssl);
    if (holder == nullptr || identity.size() + 1 > maxIdentityLength || holder->psk.size() > maxLength) {
        return 0;
    }
    std::memcpy(clientIdentity, identity.data(), identity.size());
    clientIdentity[identity.size()] = '\0';
    std::memcpy(psk, holder->psk.data(), holder->psk.size());
    return static_cast<unsigned int>(holder->psk.size());
}

std::shared_ptr<asio::ssl::context> makeContext(Role role, const Bytes& psk) {
    auto holder = std::make_shared<ContextHolder>(
        role == Role::server ? asio::ssl::context::tls_server : asio::ssl::context::tls_client, psk);
    SSL_CTX* context = holder->context.native_handle();
    SSL_CTX_set_ex_data(context, holderSlot(), holder.get());

    // TLS 1.2 and nothing else: 1.3 would bring other PSK rules and suites, anything older is
    // weaker. The 1.2 cipher list holds the one suite; the 1.3 suites never apply.
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
    if (SSL_CTX_set_cipher_list(context, std::string(ecdhePskChaCha20Poly1305Name).c_str()) != 1) {
        // An OpenSSL without the suite would keep its default list and negotiate anything; an
        // empty version range instead fails every handshake, so the context fails closed.
        SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
    }

    // No resumption, renegotiation or compression: every connection proves the key afresh, and a
    // peer cannot make us redo handshakes inside one connection.
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);

    // No certificate, no verification hook, no ALPN: the key is the only credential.
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    if (role == Role::server) {
        SSL_CTX_set_psk_server_callback(context, serverPsk);
    } else {
        SSL_CTX_set_psk_client_callback(context, clientPsk);
    }
    return {holder, &holder->context};
}

bool isAllowedIPv6(ByteView address) {
    if (address.size() != 16) {
        return false;
    }
    const bool mapped =
        std::all_of(address.begin(), address.begin() + 10, [](std::uint8_t byte) { return byte == 0; }) &&
        address[10] == 0xFF && address[11] == 0xFF;
    if (mapped) {
        return isAllowedIPv4(address.subspan(12));
    }
    const bool linkLocal = address[0] == 0xFE && address[1] >= 0x80 && address[1] <= 0xBF;
    const bool loopback =
        std::all_of(address.begin(), address.begin() + 15, [](std::uint8_t byte) { return byte == 0; }) &&
        address[15] == 0x01;
    const bool uniqueLocal = (address[0] & 0xFE) == 0xFC;
    return linkLocal || loopback || uniqueLocal;
}

}  // namespace

Bytes preSharedKey(ByteView pairingKey) {
    // HMAC takes keys of any length, the empty one included, but OpenSSL wants a pointer.
    static constexpr std::uint8_t emptyKey = 0;
    Bytes derived(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    HMAC(EVP_sha256(), pairingKey.empty() ? &emptyKey : pairingKey.data(), static_cast<int>(pairingKey.size()),
         reinterpret_cast<const unsigned char*>(derivationLabel.data()), derivationLabel.size(), derived.data(),
         &length);
    derived.resize(length);
    return derived;
}

Parameters parameters(ByteView key) {
    Bytes psk = preSharedKey(key);
    // Peer-to-peer links (ad-hoc wireless interfaces that exist only between two devices) have
    // no counterpart on Linux, so there is no interface to exclude: connections use whatever
    // ordinary interface the routing table picks, and the peer filter judges the address.
    Parameters result(makeContext(Role::server, psk), makeContext(Role::client, psk));
    OPENSSL_cleanse(psk.data(), psk.size());
    return result;
}

void Parameters::applyTcpOptions(asio::ip::tcp::socket& socket) const {
    using KeepAliveIdle = asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPIDLE>;
    std::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(tcp_.noDelay), ignored);
    socket.set_option(asio::socket_base::keep_alive(tcp_.keepAlive), ignored);
    socket.set_option(KeepAliveIdle(static_cast<int>(tcp_.keepAliveIdle.count())), ignored);
}

Endpoint Endpoint::from(const asio::ip::tcp::endpoint& endpoint) {
    Endpoint result;
    result.port = endpoint.port();
    const asio::ip::address address = endpoint.address();
    if (address.is_v4()) {
        const auto bytes = address.to_v4().to_bytes();
        result.kind = Kind::ipv4;
        result.address.assign(bytes.begin(), bytes.end());
    } else if (address.is_v6()) {
        const auto bytes = address.to_v6().to_bytes();
        result.kind = Kind::ipv6;
        result.address.assign(bytes.begin(), bytes.end());
    }
    return result;
}

bool isAllowedIPv4(ByteView address) {
    if (address.size() != 4) {
        return false;
    }
    const std::uint8_t a = address[0];
    const std::uint8_t b = address[1];
    switch (a) {
        case 10: return true;                  // 10.0.0.0/8, private
        case 127: return true;                 // 127.0.0.0/8, loopback
        case 100: return b >= 64 && b <= 127;  // 100.64.0.0/10, shared address space
        case 169: return b == 254;             // 169.254.0.0/16, link-local
        case 172: return b >= 16 && b <= 31;   // 172.16.0.0/12, private
        case 192: return b == 168;             // 192.168.0.0/16, private
        default: return false;
    }
}

bool isAllowedPeer(const Endpoint& endpoint) {
    switch (endpoint.kind) {
        case Endpoint::Kind::ipv4: return isAllowedIPv4(endpoint.address);
        case Endpoint::Kind::ipv6: return isAllowedIPv6(endpoint.address);
        // A name could resolve to anything by the time it is used; localhost is no exception.
        case Endpoint::Kind::hostName: return false;
        case Endpoint::Kind::other: return false;
    }
    return false;
}

}  // namespace vantrel::SyncSecurity
