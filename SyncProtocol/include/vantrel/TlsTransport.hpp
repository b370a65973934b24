#pragma once

#include <asio/ip/tcp.hpp>
#include <memory>

#include "vantrel/SyncSecurity.hpp"
#include "vantrel/Transport.hpp"

namespace vantrel {

// TLS 1.2 with the pre-shared key over TCP: the transport of every production connection.
// It reports preparing while TCP and the handshake run, ready once the handshake is done,
// failed with the error when either fails (wrong key, version or cipher suite), and cancelled
// on cancel(). Sends made before ready wait for the handshake. cancel() on an established
// connection sends a close_notify before the socket closes; a peer that closes TCP without one
// still ends the stream in order.
//
// Like every transport it lives on the queue given to start(), whose io_context must be the one
// the socket was made on.
namespace TlsTransport {

// Server side: a socket the listener has accepted. The handshake starts when it is started.
[[nodiscard]] std::shared_ptr<Transport> accepted(asio::ip::tcp::socket socket,
                                                  const SyncSecurity::Parameters& parameters);

// Client side: connects to endpoint once started, within the parameters' connect timeout (8 s),
// then runs the handshake.
[[nodiscard]] std::shared_ptr<Transport> connecting(asio::io_context& context, asio::ip::tcp::endpoint endpoint,
                                                    const SyncSecurity::Parameters& parameters);

}  // namespace TlsTransport
}  // namespace vantrel
