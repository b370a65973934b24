#include "Statistics.hpp"

#include <algorithm>
#include <cstdio>

namespace vantrel::probe {
namespace {

constexpr double microsPerSecond = 1e6;

double millis(double micros) {
    return micros / 1000.0;
}

std::string format(const char* pattern, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

nlohmann::json spreadJson(const Spread& spread) {
    if (spread.count() == 0) {
        return nullptr;
    }
    return {{"count", spread.count()},
            {"minMillis", millis(static_cast<double>(spread.minimum()))},
            {"meanMillis", millis(spread.mean())},
            {"p50Millis", millis(static_cast<double>(spread.percentile(50)))},
            {"p95Millis", millis(static_cast<double>(spread.percentile(95)))},
            {"maxMillis", millis(static_cast<double>(spread.maximum()))}};
}

std::string spreadLine(const Spread& spread) {
    return format("min %.2f", millis(static_cast<double>(spread.minimum()))) +
           format(" / p50 %.2f", millis(static_cast<double>(spread.percentile(50)))) +
           format(" / p95 %.2f", millis(static_cast<double>(spread.percentile(95)))) +
           format(" / max %.2f ms", millis(static_cast<double>(spread.maximum())));
}

}  // namespace

void Spread::add(std::int64_t value) {
    ++count_;
    minimum_ = std::min(minimum_, value);
    maximum_ = std::max(maximum_, value);
    sum_ += static_cast<double>(value);
    values_.push_back(value);
}

std::int64_t Spread::percentile(int percent) const {
    if (values_.empty()) {
        return 0;
    }
    auto sorted = values_;
    const std::size_t rank = std::max<std::size_t>(1, (sorted.size() * static_cast<std::size_t>(percent) + 99) / 100);
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank - 1), sorted.end());
    return sorted[rank - 1];
}

void Statistics::frameReceived(bool isKeyframe, std::uint64_t payloadBytes, std::uint64_t hostTimestampMicros,
                               std::int64_t receivedMicros) {
    if (received_ == 0) {
        firstReceivedMicros_ = receivedMicros;
        firstFrameBytes_ = payloadBytes;
    }
    ++received_;
    lastReceivedMicros_ = receivedMicros;
    payloadBytes_ += payloadBytes;
    if (isKeyframe) {
        ++keyframes_;
    }
    // Two's-complement difference: a host stamp from another machine's clock may lie ahead of ours.
    latency_.add(receivedMicros - static_cast<std::int64_t>(hostTimestampMicros));
}

std::optional<double> Statistics::framesPerSecond() const {
    const auto span = lastReceivedMicros_ - firstReceivedMicros_;
    if (received_ < 2 || span <= 0) {
        return std::nullopt;
    }
    // n frames mark n - 1 intervals.
    return static_cast<double>(received_ - 1) * microsPerSecond / static_cast<double>(span);
}

std::optional<double> Statistics::bitsPerSecond() const {
    const auto span = lastReceivedMicros_ - firstReceivedMicros_;
    if (received_ < 2 || span <= 0) {
        return std::nullopt;
    }
    // The first frame opens the span; its bytes arrived before it, so they are not counted.
    return static_cast<double>(payloadBytes_ - firstFrameBytes_) * 8.0 * microsPerSecond / static_cast<double>(span);
}

nlohmann::json Statistics::toJson() const {
    const auto fps = framesPerSecond();
    const auto bitrate = bitsPerSecond();
    return {{"framesReceived", received_},
            {"framesDecoded", decoded_},
            {"framesFailed", failed_},
            {"framesSkipped", skipped_},
            {"keyframes", keyframes_},
            {"payloadBytes", payloadBytes_},
            {"framesPerSecond", fps ? nlohmann::json(*fps) : nlohmann::json(nullptr)},
            {"bitsPerSecond", bitrate ? nlohmann::json(*bitrate) : nlohmann::json(nullptr)},
            {"pingsSent", pingsSent_},
            {"pingRoundTrip", spreadJson(roundTrip_)},
            {"latency", spreadJson(latency_)},
            {"decodeTime", spreadJson(decode_)}};
}

std::string Statistics::liveLine() const {
    std::string line = "frames " + std::to_string(received_) + " (decoded " + std::to_string(decoded_) + ", failed " +
                       std::to_string(failed_) + ", key " + std::to_string(keyframes_) + ")";
    if (const auto fps = framesPerSecond()) {
        line += format("  %.1f fps", *fps);
    }
    if (const auto bitrate = bitsPerSecond()) {
        line += format("  %.2f Mbit/s", *bitrate / 1e6);
    }
    if (roundTrip_.count() > 0) {
        line += format("  ping %.1f ms", millis(roundTrip_.mean()));
    }
    if (latency_.count() > 0) {
        line += format("  latency %.1f ms", millis(latency_.mean()));
    }
    return line;
}

std::string Statistics::report() const {
    std::string text;
    text += "frames received:  " + std::to_string(received_) + " (" + std::to_string(keyframes_) + " key frames)\n";
    text += "frames decoded:   " + std::to_string(decoded_) + ", failed " + std::to_string(failed_) +
            ", skipped before a key frame " + std::to_string(skipped_) + "\n";
    const auto fps = framesPerSecond();
    const auto bitrate = bitsPerSecond();
    text += "frame rate:       " + (fps ? format("%.2f frames/s", *fps) : std::string("-")) + "\n";
    text += "bitrate:          " + (bitrate ? format("%.3f Mbit/s", *bitrate / 1e6) : std::string("-")) + "\n";
    if (roundTrip_.count() > 0) {
        text += "ping round trip:  " + format("min %.2f", millis(static_cast<double>(roundTrip_.minimum()))) +
                format(" / mean %.2f", millis(roundTrip_.mean())) +
                format(" / max %.2f ms", millis(static_cast<double>(roundTrip_.maximum()))) + " (" +
                std::to_string(roundTrip_.count()) + " of " + std::to_string(pingsSent_) + " answered)\n";
    } else if (pingsSent_ > 0) {
        text += "ping round trip:  none of " + std::to_string(pingsSent_) + " pings answered\n";
    }
    if (latency_.count() > 0) {
        text += "frame latency:    " + spreadLine(latency_) + " (meaningful only on the host's own machine)\n";
    }
    if (decode_.count() > 0) {
        text += "decoding:         " + spreadLine(decode_) + "\n";
    }
    return text;
}

}  // namespace vantrel::probe
