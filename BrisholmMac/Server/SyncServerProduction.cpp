// The host's own surroundings for the server: kept apart from SyncServer.cpp so that tests,
// which bring surroundings of their own, link neither TLS nor Avahi unless they ask for them.
#include <chrono>
#include <memory>

#include "ServiceAdvertiser.hpp"
#include "SyncServer.hpp"
#include "vantrel/SyncSecurity.hpp"
#include "vantrel/TlsTransport.hpp"

namespace vantrel {

using asio::ip::tcp;

SyncServer::Options SyncServer::Options::production() {
    Options options;
    options.monotonicNow = [] {
        return std::chrono::duration_cast<Nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
    };
    options.security = [](const Bytes& key) -> std::optional<TransportFactory> {
        // One set of TLS contexts per listener, shared by all its connections.
        auto parameters = std::make_shared<const SyncSecurity::Parameters>(SyncSecurity::parameters(key));
        return TransportFactory(
            [parameters](tcp::socket socket) { return TlsTransport::accepted(std::move(socket), *parameters); });
    };
    options.isAllowedPeer = [](const tcp::endpoint& remote) {
        return SyncSecurity::isAllowedPeer(SyncSecurity::Endpoint::from(remote));
    };
    options.advertiser = ServiceAdvertiser::create();
    return options;
}

std::shared_ptr<SyncServer> SyncServer::create() {
    return create(Options::production());
}

}  // namespace vantrel
