#pragma once

#include <asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "RecordingServer.hpp"
#include "Session.hpp"
#include "SyncServer.hpp"
#include "vantrel/Bytes.hpp"
#include "vantrel/FramedConnection.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/SyncSecurity.hpp"

namespace vantrel::probe::testing {

// A pairing key that differs per seed, so a test can hold a wrong one on purpose.
[[nodiscard]] Bytes keyOf(std::uint8_t seed);

// The pairing link a host on loopback would show.
[[nodiscard]] std::string linkFor(std::uint16_t port, const Bytes& key, std::vector<std::string> hosts = {"127.0.0.1"});

// A loopback port on which nothing listens (bound, read, released).
[[nodiscard]] std::uint16_t closedPort();

// The host's own recording server over TLS on loopback, greeting with one 640x360 display, for
// the probe to connect to; what the phone made it report is in events().
class TestHost : public vantrel::testing::RecordingServer {
public:
    explicit TestHost(const Bytes& key);
    [[nodiscard]] std::uint16_t port() const { return port_; }

private:
    std::uint16_t port_ = 0;
};

// A host that speaks TLS with the key and then follows a fixed script instead of the protocol
// rules: for greetings the real server would never give.
class ScriptedHost {
public:
    enum class Behaviour {
        closeOnHello,     // what a host of another protocol version does
        welcomeVersion2,  // answers with a welcome of version 2
        neverAnswer,      // reads the hello and stays silent
    };

    ScriptedHost(const Bytes& key, Behaviour behaviour);
    ~ScriptedHost();

    [[nodiscard]] std::uint16_t port() const;

private:
    std::shared_ptr<SerialQueue> queue_ = std::make_shared<SerialQueue>("vantrel.test-host");
    SyncSecurity::Parameters parameters_;
    asio::ip::tcp::acceptor acceptor_;
    Behaviour behaviour_;
    std::vector<std::shared_ptr<FramedConnection>> connections_;
};

// One in-process probe session over TLS, its output captured.
class SessionRun {
public:
    SessionRun(SessionSettings settings, const Bytes& key);
    ~SessionRun();

    // Waits for the end; no value when it did not come within the timeout.
    [[nodiscard]] std::optional<SessionResult> waitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    void stop() { session_->stop(); }

    // Read on the session's queue, where every write happens.
    [[nodiscard]] std::string lines();
    [[nodiscard]] std::string diagnostics();
    // The printed lines whose "kind" is kind.
    [[nodiscard]] std::size_t countKind(const std::string& kind);

private:
    std::shared_ptr<SerialQueue> queue_ = std::make_shared<SerialQueue>("vantrel.probe");
    std::ostringstream lines_;
    std::ostringstream diagnostics_;
    std::shared_ptr<Session> session_;
    std::mutex mutex_;
    std::optional<SessionResult> result_;
};

// Targets on loopback at port.
[[nodiscard]] std::vector<Target> loopback(std::uint16_t port);

// The probe binary run as a user runs it.
struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
[[nodiscard]] ProcessResult runProbe(const std::vector<std::string>& arguments,
                                     std::chrono::seconds timeout = std::chrono::seconds(90));

}  // namespace vantrel::probe::testing
