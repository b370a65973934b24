#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "Capture/Compressor.hpp"
#include "Capture/PixelBuffer.hpp"
#include "FakeServiceAdvertiser.hpp"
#include "Headless/HeadlessHost.hpp"
#include "vantrel/FramedConnection.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/PairingInfo.hpp"
#include "vantrel/SerialQueue.hpp"
#include "vantrel/TcpTransport.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using testing::waitUntil;

// Stands in for libx264: every picture comes back at once, key frames with a stream format of
// the picture's size; it records the bitrates set and the first pixel of each picture.
struct CompressorLog {
    std::mutex lock;
    std::vector<std::int64_t> bitrates;
    std::vector<std::pair<std::int32_t, std::int32_t>> sessions;
    std::atomic<int> pictures{0};

    std::int64_t lastBitrate() {
        const std::lock_guard guard(lock);
        return bitrates.empty() ? 0 : bitrates.back();
    }
};

class FakeSession final : public CompressionSession {
public:
    FakeSession(std::shared_ptr<CompressorLog> log, CompressionSettings settings)
        : log_(std::move(log)), settings_(settings) {
        setBitrate(settings.bitrate);
    }
    void setBitrate(std::int64_t bitsPerSecond) override {
        const std::lock_guard guard(log_->lock);
        log_->bitrates.push_back(bitsPerSecond);
    }
    std::optional<CompressedFrame> compress(const PixelBuffer&, bool forceKeyframe) override {
        ++log_->pictures;
        CompressedFrame frame;
        frame.isKeyframe = forceKeyframe;
        frame.payload = {0, 0, 0, 1, static_cast<std::uint8_t>(forceKeyframe ? 0x65 : 0x41)};
        if (forceKeyframe) {
            frame.format = StreamFormat{settings_.width, settings_.height, {{0x67, 1}, {0x68, 2}}};
        }
        return frame;
    }

private:
    std::shared_ptr<CompressorLog> log_;
    CompressionSettings settings_;
};

class FakeCompressor final : public Compressor {
public:
    explicit FakeCompressor(std::shared_ptr<CompressorLog> log) : log_(std::move(log)) {}
    std::unique_ptr<CompressionSession> makeSession(const CompressionSettings& settings) override {
        {
            const std::lock_guard guard(log_->lock);
            log_->sessions.emplace_back(settings.width, settings.height);
        }
        return std::make_unique<FakeSession>(log_, settings);
    }

private:
    std::shared_ptr<CompressorLog> log_;
};

struct Lines {
    std::mutex lock;
    std::vector<std::string> lines;

    LogSink sink() {
        return [this](std::string_view line) {
            const std::lock_guard guard(lock);
            lines.emplace_back(line);
        };
    }
    std::vector<std::string> snapshot() {
        const std::lock_guard guard(lock);
        return lines;
    }
    bool has(const std::string& line) {
        const std::lock_guard guard(lock);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::optional<std::string> startingWith(const std::string& prefix) {
        const std::lock_guard guard(lock);
        for (const auto& line : lines) {
            if (line.rfind(prefix, 0) == 0) {
                return line;
            }
        }
        return std::nullopt;
    }
};

// A phone over plain TCP: what it receives, in order.
class Phone {
public:
    struct Message {
        MessageType type;
        Bytes body;
    };

    explicit Phone(std::uint16_t port) : queue_(std::make_shared<SerialQueue>("test.phone")) {
        connection_ = FramedConnection::create(
            TcpTransport::connecting(queue_->context(), tcp::endpoint(asio::ip::address_v4::loopback(), port), 5000ms),
            1 << 24);
        connection_->onMessage = [this](MessageType type, Bytes body) {
            const std::lock_guard guard(lock_);
            messages_.push_back({type, std::move(body)});
        };
        connection_->onClosed = [this](std::optional<TransportError>) { closed_ = true; };
        connection_->start(queue_);
    }
    ~Phone() {
        connection_->close();
        queue_->sync([this] {
            connection_->onMessage = nullptr;
            connection_->onClosed = nullptr;
        });
    }

    template <typename Body>
    void send(MessageType type, const Body& body) {
        connection_->send(type, JSONMessage::encode(body));
    }
    void send(MessageType type) { connection_->send(type, {}); }
    void hello(std::string name = "Telefon") { send(MessageType::hello, Hello{1, std::move(name)}); }
    void leave() { connection_->close(); }

    std::vector<Message> messages() {
        const std::lock_guard guard(lock_);
        return messages_;
    }
    std::vector<Message> ofType(MessageType type) {
        std::vector<Message> found;
        for (auto& message : messages()) {
            if (message.type == type) {
                found.push_back(std::move(message));
            }
        }
        return found;
    }
    // Waits for a pong to the ping sent now: everything the host did for earlier messages is done.
    bool roundTrip() {
        const auto pongs = ofType(MessageType::pong).size();
        connection_->send(MessageType::ping, Bytes{1});
        return waitUntil([&] { return ofType(MessageType::pong).size() > pongs; });
    }

private:
    std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<FramedConnection> connection_;
    std::mutex lock_;
    std::vector<Message> messages_;
    std::atomic<bool> closed_{false};
};

class HeadlessHostTest : public ::testing::Test {
protected:
    void start(std::vector<std::string_view> arguments, bool listenerWorks = true) {
        SyncServer::Options options;
        options.monotonicNow = [] {
            return std::chrono::duration_cast<SyncServer::Nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch());
        };
        options.listenAddress = asio::ip::address_v4::loopback();
        options.security = [listenerWorks](const Bytes&) -> std::optional<SyncServer::TransportFactory> {
            if (!listenerWorks) {
                return std::nullopt;
            }
            return SyncServer::TransportFactory(
                [](tcp::socket socket) { return TcpTransport::accepted(std::move(socket)); });
        };
        options.isAllowedPeer = [](const tcp::endpoint&) { return true; };
        options.advertiser = advertiser;

        HeadlessHost::Environment environment;
        environment.log = lines.sink();
        environment.currentApps = [] {
            return AppList({{"org.gnome.Calculator.desktop", "Rechner", true, std::nullopt},
                            {"org.gnome.TextEditor.desktop", "Texteditor", false, Bytes{0x89, 'P'}}});
        };
        environment.exitProcess = [this](int status) { exitStatus = status; };
        environment.server = SyncServer::create(options);
        server = environment.server;
        environment.compressor = std::make_unique<FakeCompressor>(compressor);
        environment.key = Bytes(32, 0x5A);
        host = HeadlessHost::start(parseHeadlessOptions(arguments), std::move(environment));
    }

    std::uint16_t waitForPort() {
        EXPECT_TRUE(waitUntil([&] { return lines.startingWith("pairing: ").has_value(); }));
        const auto line = lines.startingWith("pairing: ");
        const auto pairing = PairingInfo::fromURL(line->substr(9));
        EXPECT_TRUE(pairing.has_value()) << *line;
        return pairing ? pairing->port : 0;
    }

    std::unique_ptr<Phone> greetedPhone(std::string name = "Telefon") {
        auto phone = std::make_unique<Phone>(waitForPort());
        phone->hello(std::move(name));
        EXPECT_TRUE(waitUntil([&] { return !phone->ofType(MessageType::welcome).empty(); }));
        return phone;
    }

    static Welcome welcomeIn(const Phone::Message& message) {
        const auto welcome = JSONMessage::decode<Welcome>(message.body);
        EXPECT_TRUE(welcome.has_value());
        return welcome.value_or(Welcome{});
    }

    void TearDown() override { host.reset(); }

    Lines lines;
    std::shared_ptr<CompressorLog> compressor = std::make_shared<CompressorLog>();
    std::shared_ptr<testing::FakeServiceAdvertiser> advertiser = std::make_shared<testing::FakeServiceAdvertiser>();
    std::atomic<int> exitStatus{-1};
    std::shared_ptr<SyncServer> server;
    std::unique_ptr<HeadlessHost> host;
};

TEST_F(HeadlessHostTest, LogsTheApplicationsThenAPairingLinkForLoopback) {
    start({"brisholm", "--headless", "--name", "Werkbank"});
    const auto port = waitForPort();
    const auto log = lines.snapshot();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "apps: 2");
    const auto pairing = PairingInfo::fromURL(log[1].substr(std::string("pairing: ").size()));
    ASSERT_TRUE(pairing.has_value());
    EXPECT_EQ(*pairing, (PairingInfo{"Werkbank", port, {"127.0.0.1"}, Bytes(32, 0x5A)}));
    EXPECT_NE(port, 0);
    ASSERT_TRUE(advertiser->current().has_value());
    EXPECT_EQ(advertiser->current()->port, port);
}

TEST_F(HeadlessHostTest, GreetsWithOneTestDisplayAndStreamsFromAKeyFrame) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    ASSERT_TRUE(waitUntil([&] { return phone->ofType(MessageType::videoFrame).size() >= 3; }));

    const auto messages = phone->messages();
    ASSERT_EQ(messages[0].type, MessageType::welcome);
    EXPECT_EQ(welcomeIn(messages[0]), (Welcome{1, "headless", {{1, "Testbild", 1280, 720}}, 1, false}));
    const auto appLists = phone->ofType(MessageType::apps);
    ASSERT_EQ(appLists.size(), 1u);
    const auto apps = JSONMessage::decode<AppList>(appLists[0].body);
    ASSERT_TRUE(apps.has_value());
    EXPECT_EQ(apps->apps.size(), 2u);

    // The first frame the phone gets is a key frame, preceded by a configuration of its size.
    const auto firstFrame =
        std::find_if(messages.begin(), messages.end(), [](const auto& m) { return m.type == MessageType::videoFrame; });
    ASSERT_NE(firstFrame, messages.end());
    const auto frame = VideoFrame::decode(firstFrame->body);
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(frame->isKeyframe);
    const auto config = std::find_if(std::make_reverse_iterator(firstFrame), messages.rend(),
                                     [](const auto& m) { return m.type == MessageType::videoConfig; });
    ASSERT_NE(config, messages.rend());
    const auto decoded = VideoConfig::decode(config->body);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, 1280);
    EXPECT_EQ(decoded->height, 720);

    EXPECT_TRUE(lines.has("client: Telefon"));
    EXPECT_TRUE(lines.has("bitrate: 8000000"));
}

TEST_F(HeadlessHostTest, EncodesAtTwoMegabitsUntilTheServerAsksOtherwise) {
    start({"brisholm", "--headless"});
    ASSERT_TRUE(waitUntil([&] { return compressor->pictures > 0; }));
    EXPECT_EQ(compressor->lastBitrate(), 2'000'000);
}

struct BitrateCase {
    std::int64_t requested;
    std::int64_t applied;
};

class HeadlessHostBitrate : public HeadlessHostTest, public ::testing::WithParamInterface<BitrateCase> {};

TEST_P(HeadlessHostBitrate, ClampsWhatItAppliesAndLogsWhatWasAsked) {
    start({"brisholm", "--headless"});
    ASSERT_TRUE(waitUntil([&] { return compressor->pictures > 0; }));
    server->onBitrateChange(GetParam().requested);
    EXPECT_TRUE(lines.has("bitrate: " + std::to_string(GetParam().requested)));
    EXPECT_TRUE(waitUntil([&] { return compressor->lastBitrate() == GetParam().applied; }));
}

INSTANTIATE_TEST_SUITE_P(Requests, HeadlessHostBitrate,
                         ::testing::Values(BitrateCase{1'000'000, 1'500'000}, BitrateCase{1'500'000, 1'500'000},
                                           BitrateCase{4'800'000, 4'800'000}, BitrateCase{14'000'000, 14'000'000},
                                           BitrateCase{20'000'000, 14'000'000}, BitrateCase{-5, 1'500'000}));

TEST_F(HeadlessHostTest, SwitchingToTheSecondDisplayChangesWelcomeAndStream) {
    start({"brisholm", "--headless", "--two-displays"});
    auto phone = greetedPhone();
    const auto first = welcomeIn(phone->ofType(MessageType::welcome)[0]);
    ASSERT_EQ(first.displays.size(), 2u);
    EXPECT_EQ(first.displays[1], (DisplayInfo{2, "Testbild 2", 1024, 768}));
    EXPECT_EQ(first.activeDisplay, 1u);
    ASSERT_TRUE(waitUntil([&] { return !phone->ofType(MessageType::videoFrame).empty(); }));

    phone->send(MessageType::selectDisplay, SelectDisplay{2});
    ASSERT_TRUE(waitUntil([&] { return phone->ofType(MessageType::welcome).size() == 2; }));
    EXPECT_TRUE(lines.has("display: 2 1024x768"));
    auto second = welcomeIn(phone->ofType(MessageType::welcome)[1]);
    EXPECT_EQ(second.activeDisplay, 2u);
    second.activeDisplay = 1;
    EXPECT_EQ(second, first);

    ASSERT_TRUE(waitUntil([&] {
        for (const auto& message : phone->ofType(MessageType::videoConfig)) {
            const auto config = VideoConfig::decode(message.body);
            if (config && config->width == 1024 && config->height == 768) {
                return true;
            }
        }
        return false;
    }));
    const std::lock_guard guard(compressor->lock);
    EXPECT_EQ(compressor->sessions.back(), std::make_pair(1024, 768));
}

TEST_F(HeadlessHostTest, SelectingTheActiveDisplayStillRepublishesAndAsksForAKeyFrame) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    ASSERT_TRUE(waitUntil([&] { return !phone->ofType(MessageType::videoFrame).empty(); }));
    const auto configs = phone->ofType(MessageType::videoConfig).size();
    phone->send(MessageType::selectDisplay, SelectDisplay{1});
    ASSERT_TRUE(waitUntil([&] { return phone->ofType(MessageType::welcome).size() == 2; }));
    EXPECT_TRUE(lines.has("display: 1 1280x720"));
    // The key frame asked for comes with a fresh configuration.
    EXPECT_TRUE(waitUntil([&] { return phone->ofType(MessageType::videoConfig).size() > configs; }));
}

TEST_F(HeadlessHostTest, AnUnknownDisplayIsIgnored) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    phone->send(MessageType::selectDisplay, SelectDisplay{2});  // only with --two-displays
    phone->send(MessageType::selectDisplay, SelectDisplay{0});
    ASSERT_TRUE(phone->roundTrip());
    EXPECT_EQ(phone->ofType(MessageType::welcome).size(), 1u);
    EXPECT_FALSE(lines.startingWith("display: ").has_value());
}

TEST_F(HeadlessHostTest, LogsInputAndOpenRequestsAndTheClientLeaving) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone("Pixel");
    phone->send(MessageType::input, InputEvent{input::Button{MouseButton::left, true}});
    phone->send(MessageType::input, InputEvent{input::Text{"zwei\nZeilen"}});
    phone->send(MessageType::openApp, OpenApp{"org.gnome.Calculator.desktop"});
    // A line break in an identifier must not forge a second log line.
    phone->send(MessageType::openApp, OpenApp{"x\npairing: vantrel://pair?port=1"});
    ASSERT_TRUE(phone->roundTrip());
    EXPECT_TRUE(lines.has("client: Pixel"));
    EXPECT_TRUE(lines.has("input: " + describe(InputEvent{input::Button{MouseButton::left, true}})));
    EXPECT_TRUE(lines.has("open app: org.gnome.Calculator.desktop"));
    EXPECT_TRUE(lines.has("open app: x\\npairing: vantrel://pair?port=1"));
    for (const auto& line : lines.snapshot()) {
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }

    phone->leave();
    EXPECT_TRUE(waitUntil([&] { return lines.has("client: none"); }));
}

TEST_F(HeadlessHostTest, AFailedListenerEndsTheProcessWithStatusOne) {
    start({"brisholm", "--headless"}, /*listenerWorks=*/false);
    ASSERT_TRUE(waitUntil([&] { return exitStatus == 1; }));
    EXPECT_TRUE(lines.has("listen failed"));
    EXPECT_FALSE(lines.startingWith("pairing: ").has_value());
}

TEST_F(HeadlessHostTest, StoppingDropsTheClientAndWithdrawsTheAdvertisement) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    host->stop();
    EXPECT_TRUE(lines.has("client: none"));
    EXPECT_FALSE(advertiser->current().has_value());
    const int pictures = compressor->pictures;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(compressor->pictures, pictures) << "the pump went on after stop";
}

}  // namespace
}  // namespace vantrel
