#pragma once

#include <asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ExitCode.hpp"
#include "Script.hpp"
#include "Statistics.hpp"
#include "StreamDump.hpp"
#include "VideoDecoder.hpp"
#include "vantrel/FramedConnection.hpp"
#include "vantrel/Transport.hpp"

namespace vantrel {
class SerialQueue;
}

namespace vantrel::probe {

class PngWriter;

// One address to try, with the text that names it in messages.
struct Target {
    std::string label;
    asio::ip::tcp::endpoint endpoint;
};

struct SessionSettings {
    std::vector<Target> targets;          // tried in order until one completes the handshake
    std::vector<std::string> unresolved;  // host names that did not resolve, with the reason
    std::string deviceName;
    bool acknowledgeFrames = false;
    std::vector<ScriptStep> script;
    std::optional<std::chrono::milliseconds> pingInterval;
    std::optional<std::chrono::milliseconds> duration;  // counted from the welcome
    std::optional<std::uint64_t> frameLimit;
    bool decode = true;
    std::optional<std::string> saveFramesDirectory;
    std::uint64_t saveEvery = 1;
    std::unique_ptr<StreamDump> dump;
    // One line per video frame: host stamp, receipt, decoded (or '-'), in microseconds.
    std::unique_ptr<std::ostream> frameTimes;
    bool printMessages = true;
    bool progress = false;            // the live line on diagnostics (a terminal)
    bool linesShareTerminal = false;  // stdout is the same terminal: clear the live line first
    std::chrono::milliseconds greetingTimeout{10'000};
    std::chrono::milliseconds progressInterval{500};
    // A phone accepts pictures far larger than the host's own inbound limit: a key frame of a
    // large display runs to megabytes.
    std::int64_t maxInboundLength = 64 * 1024 * 1024;
};

struct SessionResult {
    ExitCode code = ExitCode::ok;
    std::string message;  // for standard error; empty when there is nothing to say
};

// Where the session writes: JSON lines, and text for the person watching (errors, progress,
// the summary).
struct SessionOutput {
    std::ostream& lines;
    std::ostream& diagnostics;
};

// The probe's conversation with one host: tries each target in turn, greets, prints what
// arrives, sends what it was asked to (acknowledgements, pings, the script), feeds the decoder,
// keeps the statistics, and ends exactly once with a result and an exit code.
//
// Lives on the queue given to create(): every callback, timer and output write runs there.
// start() and stop() may be called from any thread. Callbacks and timers hold the session
// weakly; the owner keeps it alive until onFinished.
class Session : public std::enable_shared_from_this<Session> {
public:
    using TransportFactory =
        std::function<std::shared_ptr<Transport>(asio::io_context&, const asio::ip::tcp::endpoint&)>;
    using Clock = std::function<std::int64_t()>;  // microseconds, comparable with the host's stamps

    [[nodiscard]] static std::shared_ptr<Session> create(std::shared_ptr<SerialQueue> queue, SessionSettings settings,
                                                         TransportFactory transports, SessionOutput output,
                                                         Clock clock = monotonicMicros);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Called once, on the queue, when the session has ended and its output is written.
    std::function<void(const SessionResult&)> onFinished;

    void start();
    // Ends the session as the user's choice (Ctrl-C).
    void stop();

    // CLOCK_MONOTONIC in microseconds: the clock the host stamps its frames with.
    [[nodiscard]] static std::int64_t monotonicMicros();

private:
    Session(std::shared_ptr<SerialQueue> queue, SessionSettings settings, TransportFactory transports,
            SessionOutput output, Clock clock);

    enum class Phase { connecting, greeting, streaming, finished };

    void attempt(std::size_t index);
    void connectionReady(std::uint64_t attempt);
    void connectionClosed(std::uint64_t attempt, const std::optional<TransportError>& error);
    void handleMessage(MessageType type, const Bytes& body);
    void handleWelcome(const Bytes& body);
    void handleConfig(const Bytes& body);
    void handleFrame(const Bytes& body);
    void handlePong(const Bytes& body, nlohmann::json& line);
    void savePicture(const Picture& picture);

    void sendPing(Bytes body);
    void playScript(std::size_t index);
    void schedulePing();
    void scheduleProgress();
    void after(std::chrono::milliseconds delay, std::function<void(Session&)> work);

    void printLine(const nlohmann::json& line);
    void clearProgress();
    void finish(SessionResult result);
    [[nodiscard]] SessionResult noHostResult() const;

    const std::shared_ptr<SerialQueue> queue_;
    SessionSettings settings_;
    const TransportFactory transports_;
    SessionOutput output_;
    const Clock clock_;

    Phase phase_ = Phase::connecting;
    std::size_t targetIndex_ = 0;
    std::uint64_t attempt_ = 0;  // callbacks of an abandoned connection carry an older number
    std::shared_ptr<FramedConnection> connection_;
    std::vector<std::string> unreachable_;         // "label (reason)"
    std::optional<std::string> handshakeFailure_;  // the most recent, with its advice

    std::unique_ptr<VideoDecoder> decoder_;
    std::unique_ptr<PngWriter> pngWriter_;
    Statistics statistics_;
    std::uint64_t nextPingSequence_ = 0;
    std::deque<std::pair<Bytes, std::int64_t>> pendingPings_;  // echo expected, sent at
    bool progressShown_ = false;
    // A failure met inside a decoder callback; acted on once the decoder has returned.
    std::optional<SessionResult> deferredFailure_;
};

}  // namespace vantrel::probe
