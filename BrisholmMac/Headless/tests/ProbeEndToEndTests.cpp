// The real brisholm binary driven by vantrel-probe, the command-line phone: what a phone client
// developer sees when pointing a client at the headless host.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "vantrel/InputEvent.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::ChildProcess;

const std::string brisholm = VANTREL_BRISHOLM;
const std::string probe = VANTREL_PROBE;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;

    [[nodiscard]] const std::uint8_t* at(int x, int y) const {
        return &rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4];
    }
};

std::optional<Picture> readPNG(const std::filesystem::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGBA;
    Picture picture{static_cast<int>(image.width), static_cast<int>(image.height), {}};
    picture.rgba.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, picture.rgba.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return std::nullopt;
    }
    return picture;
}

class TemporaryDirectory {
public:
    TemporaryDirectory() {
        char name[] = "/tmp/vantrel-headless-e2e.XXXXXX";
        path_ = ::mkdtemp(name);
    }
    ~TemporaryDirectory() { std::filesystem::remove_all(path_); }
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A host and the probe run against it until the probe ends by itself.
struct Run {
    std::vector<json> messages;  // every line of the probe but the statistics
    json statistics;
    std::vector<std::string> hostLines;
    int probeStatus = -1;
};

Run runProbe(const std::vector<std::string>& hostArguments, const std::vector<std::string>& probeArguments) {
    Run run;
    std::vector<std::string> arguments{"--headless", "--port", "0"};
    arguments.insert(arguments.end(), hostArguments.begin(), hostArguments.end());
    ChildProcess host(brisholm, arguments);
    const auto pairing = host.waitForLine("pairing: ");
    EXPECT_TRUE(pairing.has_value()) << host.errorOutput();
    if (!pairing) {
        return run;
    }
    auto withLink = probeArguments;
    withLink.push_back(pairing->substr(std::string("pairing: ").size()));
    ChildProcess client(probe, withLink);
    run.probeStatus = client.waitForExit(60s).value_or(-1);
    EXPECT_EQ(run.probeStatus, 0) << client.errorOutput();
    for (const auto& line : client.lines()) {
        auto message = json::parse(line, nullptr, false);
        if (message.is_discarded()) {
            ADD_FAILURE() << "probe printed a line that is not JSON: " << line;
        } else if (message.contains("statistics")) {
            run.statistics = message["statistics"];
        } else {
            run.messages.push_back(std::move(message));
        }
    }
    // The probe has left: the host reports that before anything else happens.
    EXPECT_TRUE(host.waitForLine("client: none").has_value());
    run.hostLines = host.lines();
    return run;
}

bool hasLine(const Run& run, const std::string& line) {
    return std::find(run.hostLines.begin(), run.hostLines.end(), line) != run.hostLines.end();
}

// Where the white bar starts in one row, and how wide it is: the run of columns far brighter in
// red than the ramp's constant 60.
std::pair<int, int> whiteBar(const Picture& picture, int y) {
    int start = -1;
    int end = -1;
    for (int x = 0; x < picture.width; ++x) {
        if (picture.at(x, y)[0] > 180) {
            if (start < 0) {
                start = x;
            }
            end = x + 1;
        }
    }
    return {start, end - start};
}

TEST(ProbeEndToEnd, TheDefaultHostGreetsAndStreamsThePattern) {
    TemporaryDirectory frames;
    const auto run = runProbe({"--name", "Prüfstand"}, {"--name", "Sonde", "--frames", "45", "--save-frames",
                                                        frames.path().string(), "--every", "7", "--no-progress"});
    ASSERT_FALSE(run.messages.empty());

    // The welcome comes first and lists exactly the one test display.
    const auto& welcome = run.messages.front();
    ASSERT_EQ(welcome["kind"], "welcome");
    EXPECT_EQ(welcome["body"]["hostName"], "Prüfstand");
    EXPECT_EQ(welcome["body"]["activeDisplay"], 1);
    EXPECT_EQ(welcome["body"]["canControl"], false);
    EXPECT_EQ(welcome["body"]["version"], 1);
    EXPECT_EQ(welcome["body"]["displays"],
              json::parse(R"([{"id": 1, "name": "Testbild", "width": 1280, "height": 720}])"));

    // The first frame is a key frame, and a configuration of its size came before it.
    bool configured = false;
    for (const auto& message : run.messages) {
        if (message["kind"] == "videoConfig") {
            configured = message["body"]["width"] == 1280 && message["body"]["height"] == 720;
        }
        if (message["kind"] == "videoFrame") {
            EXPECT_TRUE(configured);
            EXPECT_EQ(message["body"]["isKeyframe"], true);
            break;
        }
    }
    EXPECT_EQ(run.statistics["framesReceived"], 45);
    EXPECT_EQ(run.statistics["framesFailed"], 0);

    EXPECT_TRUE(hasLine(run, "client: Sonde"));
    EXPECT_TRUE(hasLine(run, "bitrate: 8000000"));

    // Decoded pictures: the bar on the tick grid (any tick: ticks may have been skipped), the
    // ramps within the codec's tolerance away from the bar's blurred edges.
    std::size_t checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(frames.path())) {
        const auto picture = readPNG(entry.path());
        ASSERT_TRUE(picture.has_value()) << entry.path();
        ASSERT_EQ(picture->width, 1280);
        ASSERT_EQ(picture->height, 720);
        const auto [barStart, barWidth] = whiteBar(*picture, 360);
        ASSERT_GE(barStart, 0) << entry.path() << ": no white bar";
        const int offGrid = std::min(barStart % 8, 8 - barStart % 8);
        EXPECT_LE(offGrid, 2) << entry.path() << ": bar at " << barStart;
        if (barStart + 40 <= 1280) {
            EXPECT_NEAR(barWidth, 40, 3) << entry.path();
        } else {
            EXPECT_NEAR(barStart + barWidth, 1280, 3) << entry.path();
        }
        EXPECT_EQ(whiteBar(*picture, 5).first, barStart) << "the bar spans the full height";
        EXPECT_EQ(whiteBar(*picture, 714).first, barStart) << "the bar spans the full height";
        for (const int y : {40, 200, 360, 520, 680}) {
            for (const int x : {20, 150, 400, 640, 900, 1150, 1260}) {
                if (x > barStart - 12 && x < barStart + barWidth + 12) {
                    continue;
                }
                const auto* pixel = picture->at(x, y);
                EXPECT_NEAR(pixel[0], 60, 16) << entry.path() << " red at " << x << "," << y;
                EXPECT_NEAR(pixel[1], y * 255 / 720, 16) << entry.path() << " green at " << x << "," << y;
                EXPECT_NEAR(pixel[2], x * 255 / 1280, 16) << entry.path() << " blue at " << x << "," << y;
            }
        }
        ++checked;
    }
    EXPECT_GE(checked, 5u);
}

TEST(ProbeEndToEnd, SecondDisplayInputAndOpenRequestsReachTheLog) {
    TemporaryDirectory work;
    const auto script = work.path() / "script.jsonl";
    std::ofstream(script) << R"({"delay": 300, "input": {"button": {"button": "left", "down": true}}}
{"input": {"key": {"code": 12, "down": true, "modifiers": 9}}}
{"input": {"text": {"_0": "hallo"}}}
{"openApp": {"id": "org.example.Editor.desktop"}}
{"selectDisplay": {"id": 7}}
{"selectDisplay": {"id": 2}}
)";
    const auto run = runProbe({"--two-displays"},
                              {"--name", "Sonde", "--seconds", "3", "--script", script.string(), "--no-progress"});
    ASSERT_FALSE(run.messages.empty());

    const auto& first = run.messages.front();
    ASSERT_EQ(first["kind"], "welcome");
    EXPECT_EQ(first["body"]["displays"].size(), 2u);
    EXPECT_EQ(first["body"]["displays"][1],
              json::parse(R"({"id": 2, "name": "Testbild 2", "width": 1024, "height": 768})"));

    EXPECT_TRUE(hasLine(run, "input: " + describe(input::Button{MouseButton::left, true})));
    EXPECT_TRUE(hasLine(run, "input: " + describe(input::Key{12, true, Modifiers(9)})));
    EXPECT_TRUE(hasLine(run, "input: " + describe(input::Text{"hallo"})));
    EXPECT_TRUE(hasLine(run, "open app: org.example.Editor.desktop"));
    EXPECT_TRUE(hasLine(run, "display: 2 1024x768"));
    EXPECT_FALSE(hasLine(run, "display: 7 0x0"));
    // Display 7 does not exist: exactly one display line, for display 2.
    EXPECT_EQ(std::count_if(run.hostLines.begin(), run.hostLines.end(),
                            [](const std::string& line) { return line.rfind("display: ", 0) == 0; }),
              1);

    // After the new welcome, the stream restarts at 1024x768: a configuration, then a key frame.
    std::size_t index = 0;
    while (index < run.messages.size() &&
           !(run.messages[index]["kind"] == "welcome" && run.messages[index]["body"]["activeDisplay"] == 2)) {
        ++index;
    }
    ASSERT_LT(index, run.messages.size()) << "no welcome with display 2 active";
    bool configured = false;
    bool sawFrame = false;
    for (++index; index < run.messages.size(); ++index) {
        const auto& message = run.messages[index];
        if (message["kind"] == "videoConfig" && message["body"]["width"] == 1024) {
            EXPECT_EQ(message["body"]["height"], 768);
            configured = true;
        }
        if (message["kind"] == "videoFrame" && configured) {
            EXPECT_EQ(message["body"]["isKeyframe"], true);
            sawFrame = true;
            break;
        }
    }
    EXPECT_TRUE(configured);
    EXPECT_TRUE(sawFrame);
    EXPECT_EQ(run.statistics["framesFailed"], 0);
}

// `brisholm --headless | head -n 2`: the reader of the event log leaves after the pairing line.
// A phone's session then logs into the closed pipe: the host streams on and ends cleanly.
TEST(ProbeEndToEnd, AnEventLogReaderThatLeftNeitherEndsNorStallsTheHost) {
    ChildProcess host(brisholm, {"--headless", "--port", "0"}, {}, 2);
    const auto pairing = host.waitForLine("pairing: ");
    ASSERT_TRUE(pairing.has_value()) << host.errorOutput();
    ChildProcess client(probe, {"--frames", "30", "--ack", "--ping-every", "100", "--no-progress",
                                pairing->substr(std::string("pairing: ").size())});
    EXPECT_EQ(client.waitForExit(60s), 0) << client.errorOutput() << host.errorOutput();
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForExit(10s), 0) << host.errorOutput();
}

}  // namespace
}  // namespace vantrel
