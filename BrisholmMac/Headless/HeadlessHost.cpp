#include "Headless/HeadlessHost.hpp"

#include <string_view>

#include "Capture/ScreenStreamer.hpp"
#include "Capture/VideoEncoder.hpp"
#include "Headless/TestPatternCapturer.hpp"
#include "Headless/TestPatternSource.hpp"
#include "Host/HostSession.hpp"
#include "Log/DiagnosticLog.hpp"
#include "SyncServer.hpp"
#include "vantrel/InputEvent.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {

namespace {

// The headless log: names and identifiers in it come from the phone, and a line break in one
// must not start a second, forged line.
struct EventLog {
    LogSink sink;

    void write(std::string_view line) const {
        if (sink) {
            sink(oneLine(line));
        }
    }
};

// Nothing is injected: the headless host only reports what the phone sent.
class LoggedInput final : public InputSink {
public:
    explicit LoggedInput(std::shared_ptr<const EventLog> log) : log_(std::move(log)) {}
    void handle(const InputEvent& event) override { log_->write("input: " + describe(event)); }
    void releaseAll() override {}

private:
    std::shared_ptr<const EventLog> log_;
};

// The list is built once, at start-up; nothing is opened, the request is only reported.
class LoggedApplications final : public Applications {
public:
    LoggedApplications(std::shared_ptr<const EventLog> log, AppList apps)
        : log_(std::move(log)), apps_(std::move(apps)) {}
    AppList current() override { return apps_; }
    void open(const std::string& id, const std::optional<AppList>&) override { log_->write("open app: " + id); }

private:
    std::shared_ptr<const EventLog> log_;
    AppList apps_;
};

}  // namespace

std::vector<DisplayInfo> HeadlessHost::displays(bool twoDisplays) {
    std::vector<DisplayInfo> list{{1, "Testbild", 1280, 720}};
    if (twoDisplays) {
        list.push_back({2, "Testbild 2", 1024, 768});
    }
    return list;
}

std::unique_ptr<HeadlessHost> HeadlessHost::start(const HeadlessOptions& options, Environment environment) {
    std::unique_ptr<HeadlessHost> host(new HeadlessHost());
    host->key_ = environment.key ? std::move(*environment.key) : PairingInfo::generateKey();
    const auto log = std::make_shared<const EventLog>(EventLog{std::move(environment.log)});

    auto server = environment.server ? std::move(environment.server) : SyncServer::create();
    auto compressor = environment.compressor ? std::move(environment.compressor) : Compressor::create();
    auto encoder = std::make_shared<VideoEncoder>(std::move(compressor));
    encoder->setBitrate(initialBitrate);

    // The application list, built here on the main thread; the server keeps it for every greeting.
    AppList apps = environment.currentApps ? environment.currentApps() : AppList{};
    log->write("apps: " + std::to_string(apps.apps.size()));

    const auto list = displays(options.twoDisplays);
    // The encoder plans for the desktop's frame rate (its periodic key frame and rate control stay
    // those the headless host always had); the streamer paces the pattern at its own interval.
    auto streamer = ScreenStreamer::create(encoder, TestPatternCapturer::factory(list), {}, frameInterval);
    const auto pattern = std::make_shared<TestPatternSource>(std::move(streamer), encoder);
    HostSession::Parts parts{environment.main,
                             server,
                             encoder,
                             pattern,
                             std::make_shared<LoggedInput>(log),
                             std::make_shared<LoggedApplications>(log, std::move(apps))};
    auto session = HostSession::create(std::move(parts), {options.name, list, list.front().id, false});

    session->onBitrateChange = [log](std::int64_t requested) { log->write("bitrate: " + std::to_string(requested)); };
    session->onClientChanged = [log](const std::optional<std::string>& client) {
        log->write("client: " + client.value_or("none"));
    };
    session->onListening = [log, name = options.name, key = host->key_,
                            exitProcess = std::move(environment.exitProcess)](std::optional<std::uint16_t> port) {
        if (!port) {
            log->write("listen failed");
            if (exitProcess) {
                exitProcess(1);
            }
            return;
        }
        log->write("pairing: " + PairingInfo{name, *port, {"127.0.0.1"}, key}.url());
    };
    // Choosing the display already shown still switches: the phone gets a new welcome and a key
    // frame, which is what a client developer testing the message expects to see.
    session->onDisplayRequested = [log, weakSession = std::weak_ptr<HostSession>(session)](std::uint32_t id) {
        const auto session = weakSession.lock();
        if (!session || !session->selectDisplay(id)) {
            return;
        }
        const auto display = session->activeDisplayInfo();
        log->write("display: " + std::to_string(display->id) + " " + std::to_string(display->width) + "x" +
                   std::to_string(display->height));
    };

    session->offerApplications();
    // The pattern rests until a phone watches, but one picture now gives the server the stream's
    // configuration, which every greeting sends between the welcome and the application list.
    pattern->prepare(list.front());
    session->publishWelcome();
    session->start(host->key_, options.preferredPort);
    host->session_ = std::move(session);
    return host;
}

HeadlessHost::~HeadlessHost() {
    if (session_) {
        session_->stopAndWait();
    }
}

void HeadlessHost::stop(std::function<void()> stopped) {
    session_->stop(std::move(stopped));
}

}  // namespace vantrel
