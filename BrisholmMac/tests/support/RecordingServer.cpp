#include "RecordingServer.hpp"

#include <algorithm>
#include <future>

#include "vantrel/InputEvent.hpp"
#include "vantrel/SyncSecurity.hpp"
#include "vantrel/TcpTransport.hpp"
#include "vantrel/TlsTransport.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::testing {

struct RecordingServer::Events {
    mutable std::mutex mutex;
    std::vector<std::string> lines;

    void record(std::string line) {
        const std::lock_guard lock(mutex);
        lines.push_back(std::move(line));
    }
};

RecordingServer::RecordingServer(Config config) : config_(std::move(config)), events_(std::make_shared<Events>()) {
    SyncServer::Options options;
    options.monotonicNow = [clock = clock_] { return std::chrono::nanoseconds(clock->load()); };
    options.greetingDeadline = config_.greetingDeadline;
    options.listenAddress = config_.listenAddress;
    options.isAllowedPeer = config_.isAllowedPeer;
    options.advertiser = advertiser;
    options.maxHandshaking = config_.maxHandshaking;
    options.maxQueuedSendBytes = config_.maxQueuedSendBytes;
    if (config_.link == Link::memory) {
        queue_ = std::make_shared<ManualQueue>("test.server");
        options.queue = queue_;
        // Unused by in-memory phones; a listener still needs one.
        options.security = [](const Bytes&) -> std::optional<SyncServer::TransportFactory> {
            return SyncServer::TransportFactory(
                [](asio::ip::tcp::socket socket) { return TcpTransport::accepted(std::move(socket)); });
        };
    } else {
        threadQueue_ = std::make_shared<SerialQueue>("vantrel.server");
        options.queue = threadQueue_;
        options.security = [](const Bytes& key) -> std::optional<SyncServer::TransportFactory> {
            auto parameters = std::make_shared<const SyncSecurity::Parameters>(SyncSecurity::parameters(key));
            return SyncServer::TransportFactory([parameters](asio::ip::tcp::socket socket) {
                return TlsTransport::accepted(std::move(socket), *parameters);
            });
        };
    }
    server = SyncServer::create(std::move(options));
    auto events = events_;
    server->onClientChanged = [events](std::optional<std::string> name) {
        events->record("client:" + name.value_or("-"));
    };
    server->onInput = [events](const InputEvent& event) { events->record("input:" + describe(event)); };
    server->onKeyframeRequest = [events] { events->record("keyframe"); };
    server->onSelectDisplay = [events](std::uint32_t display) { events->record("display:" + std::to_string(display)); };
    server->onOpenApp = [events](const std::string& id) { events->record("open:" + id); };
    server->onListening = [events](std::optional<std::uint16_t> port) {
        events->record("listening:" + (port ? std::to_string(*port) : std::string("-")));
    };
    server->onBitrateChange = [events](std::int64_t bitrate) { events->record("bitrate:" + std::to_string(bitrate)); };
}

RecordingServer::~RecordingServer() {
    server.reset();
    if (queue_) {
        queue_->runReady();  // the connections' last closes
    }
    if (threadQueue_) {
        // A closure running on the queue may have held the last reference to the server just
        // now. Once it is done, the queue is ours alone: destroying it here joins its thread, so
        // no server work (nor the thread's OpenSSL state) outlives the test.
        threadQueue_->sync([] {});
        threadQueue_.reset();
    }
}

std::optional<std::uint16_t> RecordingServer::start(const Bytes& key, std::uint16_t port) {
    const auto reports = [this] {
        const auto all = events();
        return std::count_if(all.begin(), all.end(), [](const auto& line) { return line.rfind("listening:", 0) == 0; });
    };
    const auto before = reports();
    server->start(key, port);
    if (queue_) {
        runUntil([&] { return reports() > before; });
    } else {
        waitUntil([&] { return reports() > before; });
    }
    const auto all = events();
    const auto last =
        std::find_if(all.rbegin(), all.rend(), [](const auto& line) { return line.rfind("listening:", 0) == 0; });
    if (last == all.rend() || *last == "listening:-") {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::stoi(last->substr(10)));
}

std::unique_ptr<Phone> RecordingServer::connect() {
    auto [serverEnd, phoneEnd] = MemoryTransport::makePair();
    serverEnds_.push_back(serverEnd);
    server->admit(serverEnd, "memory phone " + std::to_string(++phones_));
    auto phone = std::make_unique<Phone>(phoneEnd, queue_);
    run();
    return phone;
}

std::unique_ptr<Phone> RecordingServer::greetedPhone(const std::string& name) {
    auto phone = connect();
    phone->hello(name);
    run();
    clearEvents();
    return phone;
}

void RecordingServer::run() {
    queue_->runReady();
}

bool RecordingServer::runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    return queue_->runUntil(condition, timeout);
}

SyncServer::Status RecordingServer::status() {
    if (queue_) {
        SyncServer::Status result;
        server->readStatus([&result](const SyncServer::Status& status) { result = status; });
        run();
        return result;
    }
    std::promise<SyncServer::Status> promise;
    auto future = promise.get_future();
    server->readStatus([&promise](const SyncServer::Status& status) { promise.set_value(status); });
    return future.get();
}

std::vector<std::string> RecordingServer::events() const {
    const std::lock_guard lock(events_->mutex);
    return events_->lines;
}

void RecordingServer::clearEvents() {
    const std::lock_guard lock(events_->mutex);
    events_->lines.clear();
}

bool RecordingServer::has(const std::string& event) const {
    return count(event) > 0;
}

std::size_t RecordingServer::count(const std::string& event) const {
    const auto all = events();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), event));
}

bool RecordingServer::waitForEvent(const std::string& event, std::chrono::milliseconds timeout) {
    if (queue_) {
        return runUntil([&] { return has(event); }, timeout);
    }
    return waitUntil([&] { return has(event); }, timeout);
}

Bytes keyOf(std::uint8_t seed) {
    Bytes key(32);
    for (std::size_t index = 0; index < key.size(); ++index) {
        key[index] = static_cast<std::uint8_t>(seed * 31 + index);
    }
    return key;
}

SilentSocket::SilentSocket(std::uint16_t port) : socket_(context_) {
    std::error_code error;
    socket_.connect(asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), port), error);
    connected_ = !error;
}

bool SilentSocket::closedByServer(std::chrono::milliseconds timeout) {
    if (!connected_) {
        return true;
    }
    socket_.non_blocking(true);
    return waitUntil(
        [&] {
            std::uint8_t byte = 0;
            std::error_code error;
            socket_.read_some(asio::buffer(&byte, 1), error);
            return error && error != asio::error::would_block;
        },
        timeout);
}

}  // namespace vantrel::testing
