#pragma once

#include <asio/ip/address_v4.hpp>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FakeServiceAdvertiser.hpp"
#include "Phone.hpp"
#include "SyncServer.hpp"
#include "vantrel/testing/ManualQueue.hpp"
#include "vantrel/testing/MemoryTransport.hpp"

namespace vantrel::testing {

// The recording host of the tests: the real SyncServer with a driven clock and a fake
// advertiser, every callback recorded as one line of text in call order ("listening:PORT" or
// "listening:-", "client:NAME" or "client:-", "input:...", "keyframe", "display:ID", "open:ID",
// "bitrate:N").
//
// In memory (the default), the server lives on a manual queue that the test runs itself, and
// phones are admitted over in-memory transports: deterministic, no sockets, no threads. Over
// TLS, the server listens on loopback on its own queue, and phones connect with the key.
class RecordingServer {
public:
    enum class Link { memory, tls };

    struct Config {
        Link link = Link::memory;
        std::chrono::nanoseconds greetingDeadline = std::chrono::seconds(10);
        std::size_t maxHandshaking = 64;
        std::int64_t maxQueuedSendBytes = std::int64_t{16} << 20;
        asio::ip::address_v4 listenAddress = asio::ip::address_v4::loopback();
        std::function<bool(const asio::ip::tcp::endpoint&)> isAllowedPeer = [](const auto&) { return true; };
    };

    RecordingServer() : RecordingServer(Config{}) {}
    explicit RecordingServer(Config config);
    ~RecordingServer();

    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    // Starts with key and returns the port reported (waits for the report).
    std::optional<std::uint16_t> start(const Bytes& key, std::uint16_t port = 0);

    // In memory: a phone through the admission, its transport's server end kept for scripting
    // (held send completions). The queue has run: the phone is ready.
    std::unique_ptr<Phone> connect();
    // connect(), hello and the greeting's reports cleared from the events.
    std::unique_ptr<Phone> greetedPhone(const std::string& name = "Telefon");
    [[nodiscard]] std::shared_ptr<MemoryTransport> lastServerEnd() const { return serverEnds_.back(); }

    // In memory: everything ready runs now.
    void run();
    // In memory: runs work as it arrives until condition holds (work may come from other
    // threads, such as the screen streamer's).
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    [[nodiscard]] const std::shared_ptr<ManualQueue>& queue() const { return queue_; }

    [[nodiscard]] SyncServer::Status status();
    [[nodiscard]] std::vector<std::string> events() const;
    void clearEvents();
    [[nodiscard]] bool has(const std::string& event) const;
    [[nodiscard]] std::size_t count(const std::string& event) const;
    bool waitForEvent(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void setClock(std::chrono::nanoseconds now) { clock_->store(now.count()); }

    std::shared_ptr<FakeServiceAdvertiser> advertiser = std::make_shared<FakeServiceAdvertiser>();
    std::shared_ptr<SyncServer> server;

private:
    struct Events;

    Config config_;
    std::shared_ptr<ManualQueue> queue_;        // in memory only
    std::shared_ptr<SerialQueue> threadQueue_;  // over TLS only
    std::shared_ptr<std::atomic<std::int64_t>> clock_ = std::make_shared<std::atomic<std::int64_t>>(0);
    std::shared_ptr<Events> events_;
    std::vector<std::shared_ptr<MemoryTransport>> serverEnds_;
    int phones_ = 0;
};

inline VideoFrame testFrame(bool key, std::size_t size = 1000, std::uint64_t timestamp = 0) {
    return VideoFrame{key, timestamp, Bytes(size, key ? 0x4B : 0x44)};
}

inline Welcome testWelcome(const std::string& hostName = "host") {
    return Welcome{SyncProtocolVersion::current, hostName, {DisplayInfo{1, "L", 1920, 1080}}, 1, true};
}

// A pairing key that differs per seed, so a test can hold a wrong one on purpose.
[[nodiscard]] Bytes keyOf(std::uint8_t seed);

// A TCP connection that never starts TLS: the kind of stray that only the deadline ends.
class SilentSocket {
public:
    explicit SilentSocket(std::uint16_t port);
    [[nodiscard]] bool connected() const { return connected_; }
    // Whether the server has closed its end within timeout.
    bool closedByServer(std::chrono::milliseconds timeout);

private:
    asio::io_context context_;
    asio::ip::tcp::socket socket_;
    bool connected_ = false;
};

}  // namespace vantrel::testing
