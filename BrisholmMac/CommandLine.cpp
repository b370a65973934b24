#include "CommandLine.hpp"

#include <algorithm>

namespace vantrel {

namespace {

bool contains(std::span<const std::string_view> arguments, std::string_view option) {
    return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
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
    for (const auto argument : arguments.subspan(std::min<std::size_t>(1, arguments.size()))) {
        if (argument != "--verbose" && argument != "--print-link") {
            line.action = CommandLine::Action::usageError;
            line.error = "unknown option '" + std::string(argument) +
                         "' for the desktop host (the headless host's options need --headless); see brisholm --help";
            return line;
        }
    }
    return line;
}

std::string helpText() {
    return R"(Usage: brisholm [--print-link] [--verbose]
       brisholm --headless [--port PORT] [--name NAME] [--two-displays] [--verbose]
       brisholm --autostart on|off

Lets a paired phone on the same local network watch and operate this computer.

Without --headless the desktop host runs: it shows this X11 desktop to the phone and injects the
phone's input. It listens on port 47823 (or one the system chooses) and keeps its pairing key in
the desktop's keyring. The pairing code is in its panel (tray icon). When standard output is a
terminal it prints "pairing: LINK" there whenever the pairing link changes, with the link drawn as
a QR code; elsewhere (the journal of a session started at log-in) the link, which holds the key,
is printed only with --print-link.

  --print-link      (desktop) print the pairing link even when standard output is no terminal
  --headless        stream a generated test pattern instead of a display; no input is injected
  --port PORT       (headless) the port to listen on; 0 or none: any free port
  --name NAME       (headless) the host name shown to the phone (default "headless")
  --two-displays    (headless) offer a second test display
  --autostart on|off  start the desktop host at your log-in, or no longer (an entry in
                    ~/.config/autostart, or under XDG_CONFIG_HOME); the panel has the same switch
  --verbose         debug messages in the diagnostic log (standard error); or VANTREL_LOG=debug
  --help, -h        this text
  --version         the program's version

Ctrl-C or SIGTERM ends either host cleanly (exit status 0).
)";
}

}  // namespace vantrel
