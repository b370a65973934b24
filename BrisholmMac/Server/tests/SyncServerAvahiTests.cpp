#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <future>
#include "AvahiBrowse.hpp"

#include "ServiceAdvertiser.hpp"
#include "SyncServer.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

bool advertisedOn(std::uint16_t port, std::chrono::seconds timeout = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        for (const auto& service : testing::browse("_vantrel._tcp")) {
            if (service.port == std::to_string(port)) {
                return true;
            }
        }
        std::this_thread::sleep_for(200ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

// The real advertiser behind the server: a phone browsing for the service finds the port the
// server actually listens on, and the announcement goes with the listener.
TEST(SyncServerAvahiTest, BrowsingFindsTheListeningPortUntilTheServerStops) {
    if (!testing::avahiDaemonRunning()) {
        GTEST_SKIP() << "no avahi-daemon in a private test session (VANTREL_TEST_AVAHI=1); run inside "
                        "scripts/test-session.sh";
    }
    // Connections play no part here: every peer is refused before a transport is made.
    SyncServer::Options options;
    options.monotonicNow = [] { return std::chrono::nanoseconds(0); };
    options.listenAddress = asio::ip::address_v4::loopback();
    options.security = [](const Bytes&) -> std::optional<SyncServer::TransportFactory> {
        return SyncServer::TransportFactory([](asio::ip::tcp::socket) { return std::shared_ptr<Transport>(); });
    };
    options.isAllowedPeer = [](const auto&) { return false; };
    options.advertiser = ServiceAdvertiser::create();
    auto server = SyncServer::create(std::move(options));
    std::promise<std::optional<std::uint16_t>> listening;
    server->onListening = [&listening](std::optional<std::uint16_t> port) { listening.set_value(port); };
    server->start(Bytes(32, 1), 0);
    const auto port = listening.get_future().get();
    ASSERT_TRUE(port.has_value());
    EXPECT_TRUE(advertisedOn(*port));

    server->stop();
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    bool gone = false;
    while (!gone && std::chrono::steady_clock::now() < deadline) {
        gone = testing::browse("_vantrel._tcp").empty();
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_TRUE(gone);
}

}  // namespace
}  // namespace vantrel
