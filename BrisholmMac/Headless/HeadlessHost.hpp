#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Capture/Compressor.hpp"
#include "Headless/HeadlessLog.hpp"
#include "Headless/HeadlessOptions.hpp"
#include "Host/MainQueue.hpp"
#include "vantrel/Bytes.hpp"
#include "vantrel/ControlMessages.hpp"

namespace vantrel {

class HostSession;
class SyncServer;

// The host without user interface, screen capture or input injection: it serves one phone with
// a generated test pattern at about 30 frames per second and writes one line per event to its
// log instead of acting on the phone's input. Phone-client developers run it on machines with no
// display at all; its contract is the command line, the log lines, the welcome and the pattern.
//
// It is the host session with headless parts: the test pattern as frame source, the log as
// input sink, and the application list built once at start-up. Lives on the main queue, like
// the session; log lines are written there, each whole.
class HeadlessHost {
public:
    static constexpr std::int64_t initialBitrate = 2'000'000;
    static constexpr std::chrono::milliseconds frameInterval{33};

    // What the host takes from the process; tests replace pieces.
    struct Environment {
        // The main thread's queue: the Qt event loop in the program, a serial queue in tests.
        std::shared_ptr<MainQueue> main;
        LogSink log;
        // The offered applications, built on the calling (main) thread.
        std::function<AppList()> currentApps;
        // Ends the process with this status; called on the main queue after "listen failed".
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
    // the main queue before the main loop runs.
    [[nodiscard]] static std::unique_ptr<HeadlessHost> start(const HeadlessOptions& options, Environment environment);

    HeadlessHost(const HeadlessHost&) = delete;
    HeadlessHost& operator=(const HeadlessHost&) = delete;
    // Stops, and waits until the server has stopped.
    ~HeadlessHost();

    // Stops the pattern and the server (the phone is dropped, the advertisement withdrawn);
    // stopped runs on the server's queue once that is done. Call on the main queue.
    void stop(std::function<void()> stopped);

    // The pairing key of this run (tests and the probe's link need nothing else).
    [[nodiscard]] const Bytes& key() const { return key_; }

private:
    HeadlessHost() = default;

    Bytes key_;
    std::shared_ptr<HostSession> session_;
};

}  // namespace vantrel
