#include "Options.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace vantrel::probe {
namespace {

template <typename Integer>
std::optional<Integer> parseInteger(std::string_view text, Integer minimum, Integer maximum) {
    Integer value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < minimum || value > maximum) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parsePositiveSeconds(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // A week is far beyond any diagnostic run and keeps the millisecond count well inside range.
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) || value <= 0 ||
        value > 7 * 24 * 3600.0) {
        return std::nullopt;
    }
    return value;
}

struct Parser {
    ProbeOptions options;
    bool everyGiven = false;

    // Applies one option that takes a value; an error text when the value is unusable.
    std::optional<std::string> apply(std::string_view option, std::string_view value) {
        const auto invalid = [&](std::string_view expected) {
            return std::string(option) + ": expected " + std::string(expected) + ", got '" + std::string(value) + "'";
        };
        if (option == "--host") {
            if (value.empty()) {
                return invalid("an address or host name");
            }
            options.host = std::string(value);
        } else if (option == "--port") {
            const auto port = parseInteger<std::uint16_t>(value, 1, 65535);
            if (!port) {
                return invalid("a port from 1 to 65535");
            }
            options.port = *port;
        } else if (option == "--name") {
            if (value.empty()) {
                return invalid("a device name");
            }
            options.name = std::string(value);
        } else if (option == "--seconds") {
            const auto seconds = parsePositiveSeconds(value);
            if (!seconds) {
                return invalid("a positive number of seconds");
            }
            options.duration = std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(*seconds * 1000)));
        } else if (option == "--frames") {
            const auto frames = parseInteger<std::uint64_t>(value, 1, std::numeric_limits<std::uint64_t>::max());
            if (!frames) {
                return invalid("a positive number of frames");
            }
            options.frameLimit = *frames;
        } else if (option == "--script") {
            if (value.empty()) {
                return invalid("a file name");
            }
            options.scriptPath = std::string(value);
        } else if (option == "--ping-every") {
            const auto interval = parseInteger<std::int64_t>(value, 1, 3'600'000);
            if (!interval) {
                return invalid("milliseconds from 1 to 3600000");
            }
            options.pingInterval = std::chrono::milliseconds(*interval);
        } else if (option == "--save-frames") {
            if (value.empty()) {
                return invalid("a directory");
            }
            options.saveFramesDirectory = std::string(value);
        } else if (option == "--every") {
            const auto every = parseInteger<std::uint64_t>(value, 1, std::numeric_limits<std::uint64_t>::max());
            if (!every) {
                return invalid("a positive whole number");
            }
            options.saveEvery = *every;
            everyGiven = true;
        } else if (option == "--dump-h264") {
            if (value.empty()) {
                return invalid("a file name");
            }
            options.dumpPath = std::string(value);
        } else if (option == "--frame-times") {
            if (value.empty()) {
                return invalid("a file name");
            }
            options.frameTimesPath = std::string(value);
        } else {
            return "unknown option " + std::string(option);
        }
        return std::nullopt;
    }
};

bool takesValue(std::string_view option) {
    static constexpr std::string_view withValue[] = {"--host",   "--port",      "--name",       "--seconds",
                                                     "--frames", "--script",    "--ping-every", "--save-frames",
                                                     "--every",  "--dump-h264", "--frame-times"};
    for (const auto candidate : withValue) {
        if (option == candidate) {
            return true;
        }
    }
    return false;
}

}  // namespace

ParsedOptions parseOptions(const std::vector<std::string_view>& arguments) {
    Parser parser;
    std::vector<std::string_view> positional;
    bool optionsEnded = false;

    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string_view argument = arguments[index];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            return ShowHelp{};
        }
        if (argument == "--ack") {
            parser.options.acknowledgeFrames = true;
            continue;
        }
        if (argument == "--no-decode") {
            parser.options.decode = false;
            continue;
        }
        if (argument == "--quiet" || argument == "-q") {
            parser.options.quiet = true;
            continue;
        }
        if (argument == "--no-progress") {
            parser.options.progress = false;
            continue;
        }

        std::string_view option = argument;
        std::optional<std::string_view> value;
        if (const auto equals = argument.find('='); equals != std::string_view::npos) {
            option = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        if (!takesValue(option)) {
            return OptionError{"unknown option " + std::string(option)};
        }
        if (!value) {
            if (index + 1 >= arguments.size()) {
                return OptionError{std::string(option) + " needs a value"};
            }
            value = arguments[++index];
        }
        if (auto error = parser.apply(option, *value)) {
            return OptionError{std::move(*error)};
        }
    }

    if (positional.empty()) {
        return OptionError{"no pairing link given"};
    }
    if (positional.size() > 1) {
        return OptionError{"one pairing link expected, got " + std::to_string(positional.size()) + " arguments"};
    }
    parser.options.link = std::string(positional.front());

    if (parser.everyGiven && !parser.options.saveFramesDirectory) {
        return OptionError{"--every only makes sense with --save-frames"};
    }
    if (parser.options.saveFramesDirectory && !parser.options.decode) {
        return OptionError{"--save-frames needs decoding; drop --no-decode"};
    }
    return parser.options;
}

std::string helpText() {
    return R"(Usage: vantrel-probe [options] 'vantrel://pair?...'

A command-line phone for a Vantrel host. Given the pairing link the host shows (as text
or QR code), it connects like a paired phone: TLS with the link's key, then the greeting.
It prints every message the host sends as one JSON line on standard output, can send
input, display choices, pings and acknowledgements, decodes the video, and ends with
statistics. Use it to check that a host is reachable and that a link works, to look at
the stream, or to drive a host from a test.

Connection:
  --host ADDRESS       connect to this address or host name instead of the link's hosts
                       (by default each host of the link is tried in turn)
  --port PORT          use this port instead of the link's
  --name NAME          the device name the host shows (default: this machine's host name)

Ending (without them the probe runs until Ctrl-C or until the host ends the session):
  --seconds N          end N seconds after the greeting (fractions allowed)
  --frames N           end after N video frames

Sending:
  --ack                acknowledge every video frame, as a phone does, so the host sees
                       the real backlog instead of estimating it
  --ping-every MS      send a ping every MS milliseconds and measure the round trip
  --script FILE        after the greeting, send the messages in FILE: one JSON object per
                       line, '#' lines and blank lines ignored. "delay" is the wait in
                       milliseconds before the message (default 0); exactly one more key
                       names the message:
                         {"delay": 500, "input": {"pointerMove": {"dx": 10, "dy": 0}}}
                         {"input": {"button": {"button": "left", "down": true}}}
                         {"input": {"key": {"code": 0, "down": true, "modifiers": 8}}}
                         {"input": {"text": {"_0": "hello"}}}
                         {"selectDisplay": {"id": 1}}
                         {"openApp": {"id": "org.gnome.Terminal"}}
                         {"ping": "any text"}
                         {"requestKeyframe": {}}
                         {"frameAck": {}}

Video:
  --no-decode          do not decode the stream (saves CPU; frames are still counted)
  --save-frames DIR    save decoded pictures as PNG files in DIR (created if missing)
  --every K            with --save-frames: save every K-th decoded picture (default 1)
  --dump-h264 FILE     write the stream as an Annex-B H.264 file that ffplay and ffprobe
                       open; it starts at the first key frame
  --frame-times FILE   write one line per video frame: the host's time stamp, this
                       machine's monotonic clock at receipt and once the picture was
                       decoded ('-' when it was not), all in microseconds

Output:
  -q, --quiet          no per-message lines; only the statistics
  --no-progress        no live status line (shown only when standard error is a terminal)
  -h, --help           this text

Each received message is one JSON line: {"kind": ..., "size": body bytes, "body": ...}.
Video frames show the key-frame flag, the host's timestamp and the payload size; stream
configurations show the picture size and the sizes of the parameter sets. The last line
is {"statistics": ...}; a readable summary goes to standard error.

Statistics: frames received, decoded, failed and skipped (before the first key frame),
key frames, frames per second, bitrate, ping round trip, frame latency and decoding
time (minimum, mean, median, 95th percentile, maximum).
The latency is this machine's monotonic clock at receipt minus the host's time stamp,
which is the host's monotonic clock. It only means something when the probe runs on
the host's own machine; elsewhere the two clocks are unrelated.

Exit codes:
  0  the probe ended the session itself (--seconds, --frames, Ctrl-C)
  1  a local failure (the decoder could not start, an output file could not be written)
  2  the command line, the script file or an output path is unusable
  3  the pairing link does not parse
  4  no host answered (none of the link's addresses, or --host, accepted a connection)
  5  the TLS handshake failed: most likely the key is wrong or was rotated on the host;
     pair again with a fresh link
  6  the host closed the connection during the greeting: most likely it speaks another
     protocol version (this probe speaks version 1)
  7  the connection was lost after the greeting, or the host ended the session
  130  interrupted (Ctrl-C) before the greeting was complete
)";
}

}  // namespace vantrel::probe
