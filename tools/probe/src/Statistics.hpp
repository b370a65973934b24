#pragma once

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::probe {

// Minimum, mean, maximum and percentiles of a series, in the series' own unit. Keeps every value
// (8 bytes a frame: an hour at 60 frames a second is under 2 MB).
class Spread {
public:
    void add(std::int64_t value);
    [[nodiscard]] std::uint64_t count() const { return count_; }
    [[nodiscard]] std::int64_t minimum() const { return minimum_; }
    [[nodiscard]] std::int64_t maximum() const { return maximum_; }
    [[nodiscard]] double mean() const { return count_ == 0 ? 0.0 : sum_ / static_cast<double>(count_); }
    // The smallest value with at least percent of the series at or below it; 0 for none.
    [[nodiscard]] std::int64_t percentile(int percent) const;

private:
    std::uint64_t count_ = 0;
    std::int64_t minimum_ = std::numeric_limits<std::int64_t>::max();
    std::int64_t maximum_ = std::numeric_limits<std::int64_t>::min();
    double sum_ = 0;
    std::vector<std::int64_t> values_;
};

// The figures of one session. Every time is passed in (microseconds of this machine's monotonic
// clock), so the arithmetic is tested without waiting.
//
// Lives on the probe's session queue; not thread-safe.
class Statistics {
public:
    void frameReceived(bool isKeyframe, std::uint64_t payloadBytes, std::uint64_t hostTimestampMicros,
                       std::int64_t receivedMicros);
    void frameDecoded(std::uint64_t count = 1) { decoded_ += count; }
    // How long decoding one picture took, from its receipt to the picture.
    void decodeTook(std::int64_t micros) { decode_.add(micros); }
    void frameFailed() { ++failed_; }
    void frameSkipped() { ++skipped_; }
    void pingAnswered(std::int64_t roundTripMicros) { roundTrip_.add(roundTripMicros); }
    void pingSent() { ++pingsSent_; }

    [[nodiscard]] std::uint64_t framesReceived() const { return received_; }

    // Frames per second and bits per second over the span from the first to the last frame
    // received; no value before two frames.
    [[nodiscard]] std::optional<double> framesPerSecond() const;
    [[nodiscard]] std::optional<double> bitsPerSecond() const;

    // The final figures as one JSON object (times in milliseconds).
    [[nodiscard]] nlohmann::json toJson() const;
    // The one-line live display.
    [[nodiscard]] std::string liveLine() const;
    // The readable end-of-session summary, several lines.
    [[nodiscard]] std::string report() const;

private:
    std::uint64_t received_ = 0;
    std::uint64_t decoded_ = 0;
    std::uint64_t failed_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t keyframes_ = 0;
    std::uint64_t pingsSent_ = 0;
    std::uint64_t payloadBytes_ = 0;
    std::uint64_t firstFrameBytes_ = 0;
    std::int64_t firstReceivedMicros_ = 0;
    std::int64_t lastReceivedMicros_ = 0;
    Spread latency_;    // receipt minus the host's stamp
    Spread decode_;     // receipt to decoded picture
    Spread roundTrip_;  // ping to pong
};

}  // namespace vantrel::probe
