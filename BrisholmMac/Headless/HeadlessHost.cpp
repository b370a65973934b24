#include "Headless/HeadlessHost.hpp"

#include <algorithm>
#include <future>
#include <mutex>
#include <string_view>

#include "Capture/Compressor.hpp"
#include "Capture/PixelBuffer.hpp"
#include "Capture/VideoEncoder.hpp"
#include "Headless/FramePump.hpp"
#include "Headless/TestPattern.hpp"
#include "vantrel/InputEvent.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {

namespace {

// Names and identifiers in the log come from the phone. A line break in one must not start a
// second, forged log line, so control characters are written as escapes.
std::string oneLine(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string line;
    line.reserve(text.size());
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte >= 0x20 && byte != 0x7F) {
            line.push_back(character);
            continue;
        }
        switch (byte) {
            case '\n': line += "\\n"; break;
            case '\r': line += "\\r"; break;
            case '\t': line += "\\t"; break;
            default:
                line += "\\x";
                line.push_back(hex[byte >> 4]);
                line.push_back(hex[byte & 0xF]);
        }
    }
    return line;
}

}  // namespace

// What the callbacks share. Server callbacks and the frame pump hold it strongly; it holds the
// server only weakly and the encoder's callbacks do not point back to it, so no cycle keeps
// anything alive once the host lets go of the server.
struct HeadlessHost::State {
    LogSink log;
    std::function<void(int)> exitProcess;
    std::string name;
    Bytes key;
    std::vector<DisplayInfo> displays;  // never changed after start-up, read without a lock
    std::shared_ptr<VideoEncoder> encoder;
    std::weak_ptr<SyncServer> server;

    std::mutex activeDisplayLock;
    DisplayInfo activeDisplay;  // guarded by activeDisplayLock

    TestPattern pattern;  // used on the pattern queue only

    void write(std::string_view line) const {
        if (log) {
            log(oneLine(line));
        }
    }

    [[nodiscard]] Welcome welcome(std::uint32_t active) const {
        return Welcome{SyncProtocolVersion::current, name, displays, active, false};
    }

    void bitrateChange(std::int64_t requested) {
        encoder->setBitrate(std::clamp(requested, minBitrate, maxBitrate));
        write("bitrate: " + std::to_string(requested));
    }

    void clientChanged(const std::optional<std::string>& client) { write("client: " + client.value_or("none")); }

    void listening(std::optional<std::uint16_t> port) {
        if (!port) {
            write("listen failed");
            if (exitProcess) {
                exitProcess(1);
            }
            return;
        }
        const PairingInfo pairing{name, *port, {"127.0.0.1"}, key};
        write("pairing: " + pairing.url());
    }

    void selectDisplay(std::uint32_t id) {
        const auto found = std::find_if(displays.begin(), displays.end(),
                                        [id](const DisplayInfo& display) { return display.id == id; });
        if (found == displays.end()) {
            return;
        }
        {
            const std::lock_guard guard(activeDisplayLock);
            activeDisplay = *found;
        }
        write("display: " + std::to_string(found->id) + " " + std::to_string(found->width) + "x" +
              std::to_string(found->height));
        if (const auto strongServer = server.lock()) {
            strongServer->setWelcome(welcome(id));
        }
        encoder->requestKeyframe();
    }

    // One tick of the frame pump: the pattern at the active display's size, stamped with the
    // host clock when it is handed to the encoder.
    void pumpFrame(std::int64_t tick) {
        std::int64_t width = 0;
        std::int64_t height = 0;
        {
            const std::lock_guard guard(activeDisplayLock);
            width = activeDisplay.width;
            height = activeDisplay.height;
        }
        const auto frame = pattern.frame(width, height, tick);
        if (!frame) {
            return;
        }
        encoder->encode(*frame, hostClockMicros());
    }
};

std::vector<DisplayInfo> HeadlessHost::displays(bool twoDisplays) {
    std::vector<DisplayInfo> list{{1, "Testbild", 1280, 720}};
    if (twoDisplays) {
        list.push_back({2, "Testbild 2", 1024, 768});
    }
    return list;
}

std::unique_ptr<HeadlessHost> HeadlessHost::start(const HeadlessOptions& options, Environment environment) {
    std::unique_ptr<HeadlessHost> host(new HeadlessHost());
    auto state = std::make_shared<State>();
    state->log = std::move(environment.log);
    state->exitProcess = std::move(environment.exitProcess);
    state->name = options.name;
    state->key = environment.key ? std::move(*environment.key) : PairingInfo::generateKey();

    auto server = environment.server ? std::move(environment.server) : SyncServer::create();
    auto compressor = environment.compressor ? std::move(environment.compressor) : Compressor::create();
    auto encoder = std::make_shared<VideoEncoder>(std::move(compressor));
    encoder->setBitrate(initialBitrate);
    state->encoder = encoder;
    state->server = server;

    state->displays = displays(options.twoDisplays);
    state->activeDisplay = state->displays.front();

    // The encoder reports on the pattern queue, inside encode(); the server takes both from any
    // thread.
    const std::weak_ptr<SyncServer> weakServer = server;
    encoder->onConfig = [weakServer](VideoConfig config) {
        if (const auto strongServer = weakServer.lock()) {
            strongServer->send(config);
        }
    };
    encoder->onFrame = [weakServer](VideoFrame frame) {
        if (const auto strongServer = weakServer.lock()) {
            strongServer->send(std::move(frame));
        }
    };

    // Server callbacks, all on the server's queue.
    server->onKeyframeRequest = [state] { state->encoder->requestKeyframe(); };
    server->onBitrateChange = [state](std::int64_t requested) { state->bitrateChange(requested); };
    server->onClientChanged = [state](const std::optional<std::string>& client) { state->clientChanged(client); };
    // Nothing is injected or opened: the headless host only reports what the phone asked for.
    server->onInput = [state](const InputEvent& event) { state->write("input: " + describe(event)); };
    server->onOpenApp = [state](const std::string& id) { state->write("open app: " + id); };

    // The application list, built here on the main thread; the server keeps it for every greeting.
    const AppList apps = environment.currentApps ? environment.currentApps() : AppList{};
    state->write("apps: " + std::to_string(apps.apps.size()));
    server->send(apps);

    server->onListening = [state](std::optional<std::uint16_t> port) { state->listening(port); };
    server->setWelcome(state->welcome(state->displays.front().id));
    server->onSelectDisplay = [state](std::uint32_t id) { state->selectDisplay(id); };

    server->start(state->key, options.preferredPort);

    auto pump = std::make_unique<FramePump>("vantrel.pattern", frameInterval);
    pump->onTick = [state](std::int64_t tick) { state->pumpFrame(tick); };
    pump->start();

    host->state_ = std::move(state);
    host->server_ = std::move(server);
    host->encoder_ = std::move(encoder);
    host->pump_ = std::move(pump);
    return host;
}

HeadlessHost::~HeadlessHost() {
    stop();
}

void HeadlessHost::stop() {
    // The pump first, so that no frame is encoded or sent while the server goes down.
    if (pump_) {
        pump_->stop();
    }
    if (!server_) {
        return;
    }
    server_->stop();
    // readStatus runs after the stop on the server's serial queue: once it answers, the client
    // is gone and the listener and advertisement are withdrawn. A server that goes away first
    // breaks the promise, which ends the wait as well.
    auto stopped = std::make_shared<std::promise<void>>();
    auto done = stopped->get_future();
    server_->readStatus([stopped](const SyncServer::Status&) { stopped->set_value(); });
    stopped.reset();
    done.wait();
    server_.reset();
}

const Bytes& HeadlessHost::key() const {
    return state_->key;
}

}  // namespace vantrel
