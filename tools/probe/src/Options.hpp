#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantrel::probe {

// Everything the command line asks of one probe run. Plain value, no thread affinity.
struct ProbeOptions {
    std::string link;                   // the pairing link, vantrel://pair?...
    std::optional<std::string> host;    // replaces the link's host list
    std::optional<std::uint16_t> port;  // replaces the link's port
    std::optional<std::string> name;    // Hello.deviceName; the machine's host name when absent

    std::optional<std::chrono::milliseconds> duration;  // --seconds
    std::optional<std::uint64_t> frameLimit;            // --frames

    bool acknowledgeFrames = false;                         // --ack
    std::optional<std::string> scriptPath;                  // --script
    std::optional<std::chrono::milliseconds> pingInterval;  // --ping-every

    bool decode = true;                              // --no-decode turns it off
    std::optional<std::string> saveFramesDirectory;  // --save-frames
    std::uint64_t saveEvery = 1;                     // --every
    std::optional<std::string> dumpPath;             // --dump-h264
    std::optional<std::string> frameTimesPath;       // --frame-times

    bool quiet = false;    // no per-message lines, only the statistics
    bool progress = true;  // the live line, when standard error is a terminal
};

struct ShowHelp {};
struct OptionError {
    std::string message;
};

using ParsedOptions = std::variant<ProbeOptions, ShowHelp, OptionError>;

// Parses the arguments after the program name. Accepts "--option value" and "--option=value".
// Every value is range-checked here, so the session never sees a nonsensical setting.
[[nodiscard]] ParsedOptions parseOptions(const std::vector<std::string_view>& arguments);

// The text of --help: what the tool does, every option, the output format and the exit codes.
[[nodiscard]] std::string helpText();

}  // namespace vantrel::probe
