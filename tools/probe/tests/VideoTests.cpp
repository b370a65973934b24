#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "AnnexB.hpp"
#include "MessageLog.hpp"
#include "PngWriter.hpp"
#include "Statistics.hpp"
#include "StreamDump.hpp"
#include "TestPictures.hpp"
#include "VideoDecoder.hpp"
#include "VideoEncoder.hpp"

namespace vantrel::probe {
namespace {

// MARK: - Length prefixes to start codes

struct Conversion {
    Bytes payload;
    std::optional<Bytes> annexB;
};

class AnnexBTest : public ::testing::TestWithParam<Conversion> {};

TEST_P(AnnexBTest, ConvertsWholeUnitsAndRefusesCorruptOnes) {
    EXPECT_EQ(annexBFromLengthPrefixed(GetParam().payload), GetParam().annexB);
}

INSTANTIATE_TEST_SUITE_P(Payloads, AnnexBTest,
                         ::testing::Values(Conversion{{}, Bytes{}},
                                           Conversion{{0, 0, 0, 2, 0x65, 0xAA}, Bytes{0, 0, 0, 1, 0x65, 0xAA}},
                                           Conversion{{0, 0, 0, 1, 0x41, 0, 0, 0, 2, 0x41, 0x42},
                                                      Bytes{0, 0, 0, 1, 0x41, 0, 0, 0, 1, 0x41, 0x42}},
                                           Conversion{{0, 0, 0, 3, 0x65, 0xAA}, std::nullopt},  // runs past the end
                                           Conversion{{0, 0, 0, 1, 0x65, 0, 0}, std::nullopt},  // a cut-off prefix
                                           Conversion{{0, 0, 0, 0}, std::nullopt},              // an empty unit
                                           Conversion{{0xFF, 0xFF, 0xFF, 0xFF, 1}, std::nullopt}));  // absurd length

TEST(AnnexBTest, ParameterSetsEachBehindAStartCode) {
    EXPECT_EQ(annexBFromParameterSets({Bytes{0x67, 1}, Bytes{}, Bytes{0x68}}),
              (Bytes{0, 0, 0, 1, 0x67, 1, 0, 0, 0, 1, 0x68}));
}

// MARK: - Statistics

TEST(StatisticsTest, RatesSpanFirstToLastFrameAndLatencyIsSigned) {
    Statistics statistics;
    EXPECT_FALSE(statistics.framesPerSecond());
    // Eleven frames 100 ms apart, 1,000 bytes each: ten intervals in one second.
    for (int index = 0; index <= 10; ++index) {
        const std::int64_t received = 5'000'000 + index * 100'000;
        // The host's stamp is 2 ms older, except one frame from a clock that runs ahead.
        const std::uint64_t stamp =
            index == 5 ? static_cast<std::uint64_t>(received + 1000) : static_cast<std::uint64_t>(received - 2000);
        statistics.frameReceived(index == 0, 1000, stamp, received);
    }
    statistics.pingAnswered(1500);
    statistics.pingAnswered(2500);
    ASSERT_TRUE(statistics.framesPerSecond());
    EXPECT_DOUBLE_EQ(*statistics.framesPerSecond(), 10.0);
    EXPECT_DOUBLE_EQ(*statistics.bitsPerSecond(), 80'000.0);

    const auto json = statistics.toJson();
    EXPECT_EQ(json["framesReceived"], 11);
    EXPECT_EQ(json["keyframes"], 1);
    EXPECT_DOUBLE_EQ(json["latency"]["minMillis"].get<double>(), -1.0);
    EXPECT_DOUBLE_EQ(json["latency"]["maxMillis"].get<double>(), 2.0);
    EXPECT_DOUBLE_EQ(json["latency"]["p50Millis"].get<double>(), 2.0);
    EXPECT_DOUBLE_EQ(json["latency"]["p95Millis"].get<double>(), 2.0);
    EXPECT_TRUE(json["decodeTime"].is_null()) << "nothing decoded";
    EXPECT_DOUBLE_EQ(json["pingRoundTrip"]["meanMillis"].get<double>(), 2.0);
    EXPECT_NE(statistics.report().find("host's own machine"), std::string::npos);
}

TEST(StatisticsTest, DecodingTimesGiveNearestRankPercentiles) {
    Statistics statistics;
    for (const std::int64_t micros : {9'000, 3'000, 4'000, 3'500, 30'000}) {
        statistics.decodeTook(micros);
    }
    const auto json = statistics.toJson()["decodeTime"];
    EXPECT_EQ(json["count"], 5);
    EXPECT_DOUBLE_EQ(json["p50Millis"].get<double>(), 4.0);
    EXPECT_DOUBLE_EQ(json["p95Millis"].get<double>(), 30.0);
    EXPECT_DOUBLE_EQ(json["minMillis"].get<double>(), 3.0);
    EXPECT_NE(statistics.report().find("decoding:         min 3.00 / p50 4.00 / p95 30.00 / max 30.00 ms"),
              std::string::npos)
        << statistics.report();
}

// MARK: - Printed lines

TEST(MessageLogTest, VideoBodiesAreSummarisedAndBadBodiesFlagged) {
    const auto frame = describeMessage(MessageType::videoFrame, VideoFrame{true, 1'000'000, Bytes(7, 1)}.encoded());
    EXPECT_EQ(frame["kind"], "videoFrame");
    EXPECT_EQ(frame["size"], 16);
    EXPECT_EQ(frame["body"], (nlohmann::json{{"isKeyframe", true}, {"timestampMicros", 1000000}, {"payloadSize", 7}}));

    const auto config = describeMessage(MessageType::videoConfig,
                                        VideoConfig{VideoCodec::h264, 1170, 2532, {Bytes(10), Bytes(4)}}.encoded());
    EXPECT_EQ(config["size"], 24);
    EXPECT_EQ(config["body"]["parameterSetSizes"], (nlohmann::json{10, 4}));
    EXPECT_EQ(config["body"]["width"], 1170);

    for (const auto type : {MessageType::welcome, MessageType::pointer, MessageType::apps, MessageType::videoFrame}) {
        const auto bad = describeMessage(type, Bytes{'{'});
        EXPECT_TRUE(bad["body"].is_null()) << name(type);
        EXPECT_TRUE(bad.contains("error")) << name(type);
    }
}

// MARK: - A real stream from the host's encoder

// The host's own encoder makes the stream, as the headless host would; the probe's decoder, its
// file dump and its PNG writer all have to accept it.
TEST(RealStreamTest, HostEncoderOutputDecodesDumpsAndSaves) {
    VideoEncoder encoder;
    std::vector<VideoConfig> configs;
    std::vector<VideoFrame> frames;
    encoder.onConfig = [&](VideoConfig config) { configs.push_back(std::move(config)); };
    encoder.onFrame = [&](VideoFrame frame) { frames.push_back(std::move(frame)); };
    const vantrel::testing::TestPattern pattern(320, 180);
    for (int tick = 0; tick < 30; ++tick) {
        encoder.encode(*pattern.picture(tick), static_cast<std::uint64_t>(tick) * 16'667);
        if (tick == 20) {
            encoder.requestKeyframe();
        }
    }
    ASSERT_GE(configs.size(), 1U);
    ASSERT_EQ(frames.size(), 30U);

    const auto directory =
        std::filesystem::temp_directory_path() / ("vantrel-probe-stream-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    const auto dumpPath = (directory / "stream.h264").string();
    std::string error;
    auto dump = StreamDump::open(dumpPath, error);
    ASSERT_TRUE(dump) << error;

    auto decoder = VideoDecoder::create();
    ASSERT_TRUE(decoder);
    PngWriter png;
    std::uint64_t pictures = 0;
    std::string pngError;
    decoder->onPicture = [&](const Picture& picture) {
        EXPECT_EQ(picture.frame.width, 320);
        EXPECT_EQ(picture.frame.height, 180);
        if (picture.index == 0) {
            pngError = png.write(picture.frame, (directory / "first.png").string());
        }
        ++pictures;
    };

    // A picture before any configuration cannot decode: it is skipped, not counted as failed.
    const auto first = annexBFromLengthPrefixed(frames[1].payload);
    ASSERT_TRUE(first);
    EXPECT_EQ(decoder->decode(*first, false, 0), DecodeOutcome::skipped);

    std::size_t nextConfig = 0;
    int failed = 0;
    for (const auto& frame : frames) {
        if (frame.isKeyframe && nextConfig < configs.size()) {
            decoder->configure(configs[nextConfig]);
            dump->writeParameterSets(annexBFromParameterSets(configs[nextConfig].parameterSets));
            ++nextConfig;
        }
        const auto annexB = annexBFromLengthPrefixed(frame.payload);
        ASSERT_TRUE(annexB);
        dump->writePicture(*annexB, frame.isKeyframe);
        if (decoder->decode(*annexB, frame.isKeyframe, frame.timestampMicros) == DecodeOutcome::failed) {
            ++failed;
        }
    }
    decoder->flush();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(pictures, 30U);
    EXPECT_TRUE(pngError.empty()) << pngError;
    EXPECT_TRUE(dump->healthy());
    dump.reset();

    std::ifstream pngFile(directory / "first.png", std::ios::binary);
    char signature[8] = {};
    pngFile.read(signature, 8);
    EXPECT_EQ(std::string(signature + 1, 3), "PNG");

    // ffprobe, an independent reader, must count every picture of the dumped file.
    const std::string command =
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" +
        dumpPath + "' 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    EXPECT_EQ(output, "h264,320,180,30\n");
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace vantrel::probe
