#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vantrel::testing {

// What vantrel-probe, the command-line phone, reported of one visit to a host: every message it
// printed (one JSON object a line, the statistics left out) and its exit status.
struct PhoneVisit {
    std::vector<nlohmann::json> messages;
    int status = -1;

    // The messages of one kind ("welcome", "videoFrame" ...), in the order they came.
    [[nodiscard]] std::vector<nlohmann::json> ofKind(const std::string& kind) const;
};

// Runs the probe at path with arguments and the pairing link last, and waits (a minute at most)
// for it to end.
[[nodiscard]] PhoneVisit visitHost(const std::string& probe, const std::string& link,
                                   std::vector<std::string> arguments);

// A decoded picture the probe saved (--save-frames), as RGB.
struct SavedPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;

    // Whether the pixel at x, y is within a few steps of colour (0xRRGGBB): the stream's 4:2:0
    // pictures are close to what was drawn, not equal.
    [[nodiscard]] bool near(std::uint32_t x, std::uint32_t y, std::uint32_t colour) const;
};

// Every PNG picture in directory that can be read, in no particular order.
[[nodiscard]] std::vector<SavedPicture> savedPictures(const std::filesystem::path& directory);

}  // namespace vantrel::testing
