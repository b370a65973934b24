#include <gtest/gtest.h>

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "Capture/Compressor.hpp"
#include "Capture/PixelBuffer.hpp"
#include "Headless/HeadlessHost.hpp"
#include "RecordingServer.hpp"
#include "vantrel/JSONMessage.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::Phone;
using testing::RecordingServer;

// Stands in for libx264: every picture comes back at once, key frames with a stream format of
// the picture's size; it records the bitrates set, and where each picture's bar starts and
// whether it was made a key frame.
struct CompressorLog {
    struct Picture {
        std::int32_t bar = -1;
        bool keyframe = false;
    };

    std::mutex lock;
    std::vector<std::int64_t> bitrates;
    std::vector<std::pair<std::int32_t, std::int32_t>> sessions;
    std::vector<Picture> log;  // guarded by lock
    std::atomic<int> pictures{0};

    std::int64_t lastBitrate() {
        const std::lock_guard guard(lock);
        return bitrates.empty() ? 0 : bitrates.back();
    }
    std::vector<Picture> snapshot() {
        const std::lock_guard guard(lock);
        return log;
    }
};

// The first white column of the top row.
std::int32_t barOf(const PixelBuffer& picture) {
    const auto row = picture.row(0);
    for (std::int32_t x = 0; x < picture.width(); ++x) {
        const auto* pixel = &row[static_cast<std::size_t>(x) * 4];
        if (pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255) {
            return x;
        }
    }
    return -1;
}

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
    std::optional<CompressedFrame> compress(const PixelBuffer& picture, bool forceKeyframe) override {
        {
            const std::lock_guard guard(log_->lock);
            log_->log.push_back({barOf(picture), forceKeyframe});
        }
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

// The host on the recording server's manual queue, which also stands in for the main thread:
// the test runs both, one step at a time; only the screen streamer has a thread of its own.
class HeadlessHostTest : public ::testing::Test {
protected:
    void start(std::vector<std::string_view> arguments) {
        HeadlessHost::Environment environment;
        environment.main = MainQueue::on(server->queue());
        environment.log = lines.sink();
        environment.currentApps = [] {
            return AppList({{"org.gnome.Calculator.desktop", "Rechner", true, std::nullopt},
                            {"org.gnome.TextEditor.desktop", "Texteditor", false, Bytes{0x89, 'P'}}});
        };
        environment.exitProcess = [this](int status) { exitStatus = status; };
        environment.server = server->server;
        environment.compressor = std::make_unique<FakeCompressor>(compressor);
        environment.key = Bytes(32, 0x5A);
        host = HeadlessHost::start(parseHeadlessOptions(arguments), std::move(environment));
        server->run();
    }

    std::unique_ptr<Phone> greetedPhone(const std::string& name = "Telefon") {
        auto phone = server->connect();
        phone->hello(name);
        EXPECT_TRUE(server->runUntil([&] { return phone->count(MessageType::welcome) > 0; }));
        return phone;
    }

    bool runUntil(const std::function<bool()>& condition) { return server->runUntil(condition); }

    static std::vector<VideoConfig> configs(const Phone& phone) {
        std::vector<VideoConfig> decoded;
        for (const auto& body : phone.ofType(MessageType::videoConfig)) {
            decoded.push_back(VideoConfig::decode(body).value());
        }
        return decoded;
    }

    void TearDown() override {
        host.reset();
        server->run();
    }

    Lines lines;
    std::shared_ptr<CompressorLog> compressor = std::make_shared<CompressorLog>();
    int exitStatus = -1;
    std::unique_ptr<RecordingServer> server = std::make_unique<RecordingServer>();
    std::unique_ptr<HeadlessHost> host;
};

TEST_F(HeadlessHostTest, LogsTheApplicationsThenAPairingLinkForLoopback) {
    start({"brisholm", "--headless", "--name", "Werkbank"});
    const auto port = server->status().port.value_or(0);
    const auto log = lines.snapshot();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "apps: 2");
    const auto pairing = PairingInfo::fromURL(log[1].substr(std::string("pairing: ").size()));
    ASSERT_TRUE(pairing.has_value());
    EXPECT_EQ(*pairing, (PairingInfo{"Werkbank", port, {"127.0.0.1"}, Bytes(32, 0x5A)}));
    EXPECT_NE(port, 0);
    ASSERT_TRUE(server->advertiser->current().has_value());
    EXPECT_EQ(server->advertiser->current()->port, port);
}

TEST_F(HeadlessHostTest, GreetsWithOneTestDisplayAndStreamsFromAKeyFrame) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    ASSERT_TRUE(runUntil([&] { return phone->count(MessageType::videoFrame) >= 3; }));

    const auto messages = phone->messages();
    ASSERT_EQ(messages[0].first, MessageType::welcome);
    EXPECT_EQ(phone->last<Welcome>(MessageType::welcome),
              (Welcome{1, "headless", {{1, "Testbild", 1280, 720}}, 1, false}));
    const auto appLists = phone->ofType(MessageType::apps);
    ASSERT_EQ(appLists.size(), 1u);
    const auto apps = JSONMessage::decode<AppList>(appLists[0]);
    ASSERT_TRUE(apps.has_value());
    EXPECT_EQ(apps->apps.size(), 2u);

    // The first frame the phone gets is a key frame, preceded by a configuration of its size.
    const auto firstFrame = std::find_if(messages.begin(), messages.end(),
                                         [](const auto& m) { return m.first == MessageType::videoFrame; });
    ASSERT_NE(firstFrame, messages.end());
    const auto frame = VideoFrame::decode(firstFrame->second);
    ASSERT_TRUE(frame.has_value());
    EXPECT_TRUE(frame->isKeyframe);
    const auto config = std::find_if(std::make_reverse_iterator(firstFrame), messages.rend(),
                                     [](const auto& m) { return m.first == MessageType::videoConfig; });
    ASSERT_NE(config, messages.rend());
    const auto decoded = VideoConfig::decode(config->second);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->width, 1280);
    EXPECT_EQ(decoded->height, 720);

    EXPECT_TRUE(lines.has("client: Telefon"));
    EXPECT_TRUE(lines.has("bitrate: 8000000"));
}

// The first phone of a fresh host is greeted like every later one: the stream's configuration
// comes between the welcome and the application list, and it is the size of the display shown.
TEST_F(HeadlessHostTest, TheFirstPhoneGetsWelcomeConfigurationAndApplicationsInThatOrder) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    ASSERT_TRUE(runUntil([&] { return phone->count(MessageType::apps) > 0; }));
    const auto messages = phone->messages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[0].first, MessageType::welcome);
    ASSERT_EQ(messages[1].first, MessageType::videoConfig);
    EXPECT_EQ(messages[2].first, MessageType::apps);
    const auto config = VideoConfig::decode(messages[1].second);
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->width, 1280);
    EXPECT_EQ(config->height, 720);
}

// Apart from the one picture at start-up that makes the configuration known, the pattern runs
// only while a phone watches (an idle headless host costs nothing), at the rate the greeting set.
TEST_F(HeadlessHostTest, EncodesOnlyWhileAPhoneWatches) {
    start({"brisholm", "--headless"});
    EXPECT_EQ(compressor->pictures, 1);
    auto phone = server->connect();  // through the handshake, no hello yet: nobody watches
    server->run();
    EXPECT_EQ(compressor->pictures, 1);
    phone->hello();
    ASSERT_TRUE(runUntil([&] { return compressor->pictures > 1; }));
    EXPECT_EQ(compressor->lastBitrate(), 8'000'000);
    phone->leave();
    ASSERT_TRUE(runUntil([&] { return lines.has("client: none"); }));
    const int pictures = compressor->pictures;  // the pattern stops before the phone's departure is done
    server->run();
    EXPECT_EQ(compressor->pictures, pictures);
}

// Each picture encoded is the pattern's next tick, so a client developer can tell frames apart by
// the bar: from the one at start-up on, across a key frame the phone asked for and across phones.
TEST_F(HeadlessHostTest, EachPictureIsThePatternsNextTickAcrossKeyFramesAndPhones) {
    start({"brisholm", "--headless"});
    auto first = greetedPhone("Erstes");
    ASSERT_TRUE(runUntil([&] { return compressor->pictures >= 4; }));
    const auto asked = compressor->snapshot().size();
    first->send(MessageType::requestKeyframe);
    ASSERT_TRUE(runUntil([&] {
        const auto log = compressor->snapshot();
        return std::any_of(log.begin() + static_cast<std::ptrdiff_t>(asked), log.end(),
                           [](const auto& picture) { return picture.keyframe; });
    }));
    first->leave();
    ASSERT_TRUE(runUntil([&] { return lines.has("client: none"); }));
    const auto left = compressor->snapshot().size();
    auto second = greetedPhone("Zweites");
    ASSERT_TRUE(runUntil([&] { return compressor->snapshot().size() >= left + 3; }));

    const auto log = compressor->snapshot();
    for (std::size_t tick = 0; tick < log.size(); ++tick) {
        EXPECT_EQ(log[tick].bar, static_cast<std::int32_t>(8 * tick % 1280)) << "picture " << tick;
    }
}

struct BitrateCase {
    std::int64_t requested;
    std::int64_t applied;
};

class HeadlessHostBitrate : public HeadlessHostTest, public ::testing::WithParamInterface<BitrateCase> {};

TEST_P(HeadlessHostBitrate, ClampsWhatItAppliesAndLogsWhatWasAsked) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    ASSERT_TRUE(runUntil([&] { return compressor->pictures > 0; }));
    server->server->onBitrateChange(GetParam().requested);
    server->run();
    EXPECT_TRUE(lines.has("bitrate: " + std::to_string(GetParam().requested)));
    EXPECT_TRUE(runUntil([&] { return compressor->lastBitrate() == GetParam().applied; }));
}

INSTANTIATE_TEST_SUITE_P(Requests, HeadlessHostBitrate,
                         ::testing::Values(BitrateCase{1'000'000, 1'500'000}, BitrateCase{1'500'000, 1'500'000},
                                           BitrateCase{4'800'000, 4'800'000}, BitrateCase{14'000'000, 14'000'000},
                                           BitrateCase{20'000'000, 14'000'000}, BitrateCase{-5, 1'500'000}));

TEST_F(HeadlessHostTest, SwitchingToTheSecondDisplayChangesWelcomeAndStream) {
    start({"brisholm", "--headless", "--two-displays"});
    auto phone = greetedPhone();
    const auto first = *phone->last<Welcome>(MessageType::welcome);
    ASSERT_EQ(first.displays.size(), 2u);
    EXPECT_EQ(first.displays[1], (DisplayInfo{2, "Testbild 2", 1024, 768}));
    EXPECT_EQ(first.activeDisplay, 1u);
    ASSERT_TRUE(runUntil([&] { return phone->count(MessageType::videoFrame) > 0; }));

    phone->sendJSON(MessageType::selectDisplay, SelectDisplay{2});
    ASSERT_TRUE(runUntil([&] { return phone->count(MessageType::welcome) == 2; }));
    EXPECT_TRUE(lines.has("display: 2 1024x768"));
    auto second = *phone->last<Welcome>(MessageType::welcome);
    EXPECT_EQ(second.activeDisplay, 2u);
    second.activeDisplay = 1;
    EXPECT_EQ(second, first);

    ASSERT_TRUE(runUntil([&] {
        const auto all = configs(*phone);
        return !all.empty() && all.back().width == 1024 && all.back().height == 768;
    }));
    const std::lock_guard guard(compressor->lock);
    EXPECT_EQ(compressor->sessions.back(), std::make_pair(1024, 768));
}

TEST_F(HeadlessHostTest, SelectingTheActiveDisplayStillRepublishesAndAsksForAKeyFrame) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    ASSERT_TRUE(runUntil([&] { return phone->count(MessageType::videoFrame) > 0; }));
    const auto before = phone->count(MessageType::videoConfig);
    phone->sendJSON(MessageType::selectDisplay, SelectDisplay{1});
    ASSERT_TRUE(runUntil([&] { return phone->count(MessageType::welcome) == 2; }));
    EXPECT_TRUE(lines.has("display: 1 1280x720"));
    // The key frame asked for comes with a fresh configuration.
    EXPECT_TRUE(runUntil([&] { return phone->count(MessageType::videoConfig) > before; }));
}

TEST_F(HeadlessHostTest, AnUnknownDisplayIsIgnored) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    phone->sendJSON(MessageType::selectDisplay, SelectDisplay{2});  // only with --two-displays
    phone->sendJSON(MessageType::selectDisplay, SelectDisplay{0});
    server->run();
    EXPECT_EQ(phone->count(MessageType::welcome), 1u);
    EXPECT_FALSE(lines.startingWith("display: ").has_value());
}

TEST_F(HeadlessHostTest, LogsInputAndOpenRequestsAndTheClientLeaving) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone("Pixel");
    phone->sendJSON(MessageType::input, InputEvent{input::Button{MouseButton::left, true}});
    phone->sendJSON(MessageType::input, InputEvent{input::Text{"zwei\nZeilen"}});
    phone->sendJSON(MessageType::openApp, OpenApp{"org.gnome.Calculator.desktop"});
    // A line break in an identifier must not forge a second log line.
    phone->sendJSON(MessageType::openApp, OpenApp{"x\npairing: vantrel://pair?port=1"});
    server->run();
    EXPECT_TRUE(lines.has("client: Pixel"));
    EXPECT_TRUE(lines.has("input: " + describe(InputEvent{input::Button{MouseButton::left, true}})));
    EXPECT_TRUE(lines.has("open app: org.gnome.Calculator.desktop"));
    EXPECT_TRUE(lines.has("open app: x\\npairing: vantrel://pair?port=1"));
    for (const auto& line : lines.snapshot()) {
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }

    phone->leave();
    EXPECT_TRUE(runUntil([&] { return lines.has("client: none"); }));
}

TEST_F(HeadlessHostTest, AFailedListenerEndsTheProcessWithStatusOne) {
    // Port 1 needs privileges this test does not use on purpose: the one fallback to a port the
    // system chooses would succeed, so take that away too by listening on an address no
    // interface has.
    server = std::make_unique<RecordingServer>(
        RecordingServer::Config{.listenAddress = asio::ip::make_address_v4("192.0.2.1")});
    start({"brisholm", "--headless"});
    ASSERT_TRUE(runUntil([&] { return exitStatus == 1; }));
    EXPECT_TRUE(lines.has("listen failed"));
    EXPECT_FALSE(lines.startingWith("pairing: ").has_value());
}

TEST_F(HeadlessHostTest, StoppingDropsTheClientAndWithdrawsTheAdvertisement) {
    start({"brisholm", "--headless"});
    auto phone = greetedPhone();
    ASSERT_TRUE(runUntil([&] { return compressor->pictures > 0; }));
    bool stopped = false;
    host->stop([&stopped] { stopped = true; });
    const int pictures = compressor->pictures;  // the pattern stops before stop() returns
    EXPECT_TRUE(runUntil([&] { return stopped && lines.has("client: none"); }));
    EXPECT_TRUE(phone->isClosed());
    EXPECT_FALSE(server->advertiser->current().has_value());
    EXPECT_EQ(compressor->pictures, pictures) << "the pattern went on after stop";
}

}  // namespace
}  // namespace vantrel
