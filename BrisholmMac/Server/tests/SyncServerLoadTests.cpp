#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "RecordingServer.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::Phone;
using testing::RecordingServer;
using testing::SilentSocket;
using testing::waitUntil;

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// While a greeted phone receives a 50 Hz stream, 200 connections with the wrong key and 50 that
// never start TLS come and go. The phone never waits more than a second for a frame, every
// stray is closed within its 10 seconds, nothing stays in the handshake map, and the process
// ends with the descriptors it had.
TEST(SyncServerLoadTest, StrayConnectionsComeAndGoWhileTheClientKeepsStreaming) {
    const Bytes key = testing::keyOf(5);
    RecordingServer server(RecordingServer::Config{.link = RecordingServer::Link::tls});
    server.server->setWelcome(testing::testWelcome());
    const auto port = server.start(key);
    ASSERT_TRUE(port.has_value());
    auto phone = Phone::overTls(*port, key);
    ASSERT_TRUE(phone->greet("streaming"));

    std::atomic<bool> pumping{true};
    std::thread pump([&] {
        for (std::uint64_t frame = 0; pumping; ++frame) {
            server.server->send(testing::testFrame(frame % 10 == 0, 20'000, frame));
            std::this_thread::sleep_for(20ms);
        }
    });
    ASSERT_TRUE(phone->waitForCount(MessageType::videoFrame, 3));

    auto strayQueue = std::make_shared<SerialQueue>("vantrel.strays");
    {
        // The queue's event loop opens its own descriptors with its first socket: count them in.
        asio::ip::tcp::socket warmUp(strayQueue->context());
        warmUp.open(asio::ip::tcp::v4());
    }
    const auto baseline = openDescriptors();
    const auto strayStart = std::chrono::steady_clock::now();

    struct Silent {
        std::unique_ptr<SilentSocket> socket;
        std::chrono::steady_clock::time_point connected;
    };
    std::vector<Silent> silent;
    std::vector<std::unique_ptr<Phone>> intruders;
    for (int round = 0; round < 50; ++round) {
        silent.push_back({std::make_unique<SilentSocket>(*port), std::chrono::steady_clock::now()});
        ASSERT_TRUE(silent.back().socket->connected());
        for (int i = 0; i < 4; ++i) {
            intruders.push_back(Phone::overTls(*port, testing::keyOf(6), strayQueue));
        }
        // Intruders that have been turned away go, so the wrong-key connections come and go.
        std::erase_if(intruders, [](const auto& intruder) { return intruder->isClosed(); });
        std::this_thread::sleep_for(10ms);
    }
    for (const auto& intruder : intruders) {
        EXPECT_TRUE(intruder->waitClosed());
        EXPECT_FALSE(intruder->isReady());
    }
    intruders.clear();

    for (auto& stray : silent) {
        const auto waited = std::chrono::steady_clock::now() - stray.connected;
        const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(11s - waited);
        EXPECT_TRUE(stray.socket->closedByServer(std::max(remaining, 0ms))) << "closed later than its deadline allows";
    }
    const auto strayEnd = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitUntil([&] { return server.status().handshaking == 0; }));
    silent.clear();

    pumping = false;
    pump.join();
    EXPECT_FALSE(phone->isClosed());
    EXPECT_TRUE(server.status().clientGreeted);
    auto arrivals = phone->arrivals();
    std::chrono::steady_clock::duration longestGap{0};
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        if (arrivals[i] >= strayStart && arrivals[i - 1] <= strayEnd) {
            longestGap = std::max(longestGap, arrivals[i] - arrivals[i - 1]);
        }
    }
    EXPECT_LE(longestGap, 1s) << std::chrono::duration_cast<std::chrono::milliseconds>(longestGap).count() << " ms";
    EXPECT_TRUE(waitUntil([&] { return openDescriptors() <= baseline; }))
        << openDescriptors() << " descriptors open, " << baseline << " before";
}

}  // namespace
}  // namespace vantrel
