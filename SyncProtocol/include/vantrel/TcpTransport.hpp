#pragma once

#include <asio/ip/tcp.hpp>
#include <chrono>
#include <memory>

#include "vantrel/Transport.hpp"

namespace vantrel {

// Plain TCP under the framed connection: what tests, benchmarks and tools use where TLS would
// only be in the way. Production connections use the TLS transport.
namespace TcpTransport {

// A socket the listener has accepted; it becomes ready as soon as it is started.
[[nodiscard]] std::shared_ptr<Transport> accepted(asio::ip::tcp::socket socket);

// Connects to endpoint once started; fails when the connection is refused or takes longer than
// timeout. The io_context must be the one of the queue the transport will be started on.
[[nodiscard]] std::shared_ptr<Transport> connecting(asio::io_context& context, asio::ip::tcp::endpoint endpoint,
                                                    std::chrono::milliseconds timeout);

}  // namespace TcpTransport
}  // namespace vantrel
