#include "CommandLine.hpp"

#include <algorithm>

namespace vantrel {

namespace {

// Below this the picture is a smear; above it no link of a phone carries it.
constexpr std::int64_t minimumMaxBitrate = 100'000;
constexpr std::int64_t maximumMaxBitrate = 1'000'000'000;

bool contains(std::span<const std::string_view> arguments, std::string_view option) {
    return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

// Bits per second: digits, optionally followed by k (thousands) or M (millions).
std::optional<std::int64_t> parseBitrate(std::string_view text) {
    std::int64_t factor = 1;
    if (!text.empty() && (text.back() == 'k' || text.back() == 'M')) {
        factor = text.back() == 'k' ? 1'000 : 1'000'000;
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        value = value * 10 + (digit - '0');
    }
    value *= factor;
    if (value < minimumMaxBitrate || value > maximumMaxBitrate) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

CommandLine parseCommandLine(std::span<const std::string_view> arguments) {
    CommandLine line;
    line.verbose = contains(arguments, "--verbose");
    line.printLink = contains(arguments, "--print-link");
    if (contains(arguments, "--help") || contains(arguments, "-h")) {
        line.action = CommandLine::Action::help;
        return line;
    }
    if (contains(arguments, "--version")) {
        line.action = CommandLine::Action::version;
        return line;
    }
    if (contains(arguments, "--headless")) {
        line.action = CommandLine::Action::headlessHost;
        return line;
    }
    // --session: which desktop backend would serve this session (for scripts choosing a host).
    if (contains(arguments, "--session")) {
        line.action = CommandLine::Action::sessionCheck;
        return line;
    }
    // --autostart on|off switches starting at log-in for this user, then the program ends.
    if (const auto autostart = std::find(arguments.begin(), arguments.end(), "--autostart");
        autostart != arguments.end()) {
        const auto value = std::next(autostart) != arguments.end() ? *std::next(autostart) : std::string_view();
        if (value != "on" && value != "off") {
            line.action = CommandLine::Action::usageError;
            line.error = "--autostart needs 'on' or 'off'";
            return line;
        }
        line.action = CommandLine::Action::autostart;
        line.autostartOn = value == "on";
        return line;
    }
    // The desktop host takes no arguments but these: anything else is most likely a typo or an
    // option of the headless host without --headless, and running anyway would hide that.
    const auto rest = arguments.subspan(std::min<std::size_t>(1, arguments.size()));
    for (auto argument = rest.begin(); argument != rest.end(); ++argument) {
        if (*argument == "--verbose" || *argument == "--print-link") {
            continue;
        }
        if (*argument == "--stats") {
            line.stats = true;
            continue;
        }
        if (*argument == "--max-bitrate") {
            const auto value = std::next(argument) != rest.end() ? parseBitrate(*std::next(argument)) : std::nullopt;
            if (!value) {
                line.action = CommandLine::Action::usageError;
                line.error = "--max-bitrate needs bits per second between 100k and 1000M (digits, or with k or M)";
                return line;
            }
            line.maxBitrate = value;
            ++argument;
            continue;
        }
        line.action = CommandLine::Action::usageError;
        line.error = "unknown option '" + std::string(*argument) +
                     "' for the desktop host (the headless host's options need --headless); see brisholm --help";
        return line;
    }
    return line;
}

std::string helpText() {
    return R"(Usage: brisholm [--print-link] [--max-bitrate BPS] [--stats] [--verbose]
       brisholm --headless [--port PORT] [--name NAME] [--two-displays] [--verbose]
       brisholm --autostart on|off
       brisholm --session

Lets a paired phone on the same local network watch and operate this computer.

Without --headless the desktop host runs: it shows this desktop (an X11 session, or a Wayland
session of sway or another wlroots compositor) to the phone and injects the phone's input. It listens on port 47823 (or one the system chooses) and keeps its pairing key in
the desktop's keyring. The pairing code is in its panel (tray icon). When standard output is a
terminal it prints "pairing: LINK" there whenever the pairing link changes, with the link drawn as
a QR code; elsewhere (the journal of a session started at log-in) the link, which holds the key,
is printed only with --print-link.

  --print-link      (desktop) print the pairing link even when standard output is no terminal
  --max-bitrate BPS (desktop) never stream more than BPS bits per second (8000000, 8000k or 8M);
                    the congestion control still lowers it on a slow link. Default: up to 14M
  --stats           (desktop) each second, one line on standard error with how long the frames
                    of that second took from grab to conversion, encoding and the socket
  --headless        stream a generated test pattern instead of a display; no input is injected
  --port PORT       (headless) the port to listen on; 0 or none: any free port
  --name NAME       (headless) the host name shown to the phone (default "headless")
  --two-displays    (headless) offer a second test display
  --autostart on|off  start the desktop host at your log-in, or no longer (an entry in
                    ~/.config/autostart, or under XDG_CONFIG_HOME); the panel has the same switch
  --session         say which desktop backend serves this session, or why none does, and end
                    (exit status 0 when one does, 1 when none does)
  --verbose         debug messages in the diagnostic log (standard error); or VANTREL_LOG=debug
  --help, -h        this text
  --version         the program's version

Ctrl-C or SIGTERM ends either host cleanly (exit status 0).
)";
}

}  // namespace vantrel
