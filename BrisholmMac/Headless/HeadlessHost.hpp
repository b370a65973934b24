#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Capture/Compressor.hpp"
#include "Headless/HeadlessLog.hpp"
#include "Headless/HeadlessOptions.hpp"
#include "Server/SyncServer.hpp"
#include "vantrel/Bytes.hpp"
#include "vantrel/ControlMessages.hpp"

namespace vantrel {

class FramePump;
class VideoEncoder;

// The host without user interface, screen capture or input injection: it serves one phone with
// a generated test pattern at about 30 frames per second and writes one line per event to its
// log instead of acting on the phone's input. Phone-client developers run it on machines with no
// display at all; its contract is the command line, the log lines, the welcome and the pattern.
//
// Threads: create() runs on the main thread (the application list is built there). Server
// callbacks run on "vantrel.server", the frame pump and every encode() on "vantrel.pattern"; the
// active display is the only state they share, behind the active-display lock. Log lines come
// from both queues, each one whole.
//
// Owns the server, the encoder and the frame pump for as long as it lives; the entry point keeps
// it until the process ends. Destroying it stops the pump, then stops the server (the client is
// dropped and the advertisement withdrawn).
class HeadlessHost {
public:
    static constexpr std::int64_t initialBitrate = 2'000'000;
    static constexpr std::int64_t minBitrate = 1'500'000;
    static constexpr std::int64_t maxBitrate = 14'000'000;
    static constexpr std::chrono::milliseconds frameInterval{33};

    // What the host takes from the process; production() is the real one, tests replace pieces.
    struct Environment {
        LogSink log;
        // The offered applications, built on the calling (main) thread.
        std::function<AppList()> currentApps;
        // Ends the process with this status; called on the server's queue after "listen failed".
        std::function<void(int status)> exitProcess;
        // The server to wire; null means one with the host's own surroundings (TLS, Avahi).
        std::shared_ptr<SyncServer> server;
        // The H.264 compressor; null means the host's own (libx264).
        std::unique_ptr<Compressor> compressor;
        // The pairing key; no value means a fresh one, as in every real run.
        std::optional<Bytes> key;
    };

    // The synthetic displays: display 1 always, display 2 with "--two-displays".
    [[nodiscard]] static std::vector<DisplayInfo> displays(bool twoDisplays);

    // Runs the start-up and returns; from then on everything happens on the queues. Call it on
    // the main thread before the main loop runs.
    [[nodiscard]] static std::unique_ptr<HeadlessHost> start(const HeadlessOptions& options, Environment environment);

    HeadlessHost(const HeadlessHost&) = delete;
    HeadlessHost& operator=(const HeadlessHost&) = delete;
    ~HeadlessHost();

    // Stops the frame pump and the server and waits until the server has done so. Idempotent.
    void stop();

    // The pairing key of this run (tests and the probe's link need nothing else).
    [[nodiscard]] const Bytes& key() const;

private:
    struct State;

    HeadlessHost() = default;

    std::shared_ptr<State> state_;
    // The three long-lived objects, held here and nowhere else.
    std::shared_ptr<SyncServer> server_;
    std::shared_ptr<VideoEncoder> encoder_;
    std::unique_ptr<FramePump> pump_;
};

}  // namespace vantrel
