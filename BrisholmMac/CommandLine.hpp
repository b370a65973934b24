#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

// What the command line asks of the program as a whole: which host to run, or a word about the
// program instead. The headless host's own options (--port, --name, --two-displays) are read by
// parseHeadlessOptions(); it ignores anything else, as phone-client developers' scripts rely on.
struct CommandLine {
    enum class Action { desktopHost, headlessHost, help, version, autostart, sessionCheck, usageError };

    Action action = Action::desktopHost;
    bool verbose = false;
    // The desktop host prints the pairing link (it holds the key) even where standard output is
    // no terminal; for scripts and tests.
    bool printLink = false;
    // --max-bitrate: the desktop host's stream never goes above this many bits per second,
    // whatever the congestion control allows (for measurements at a fixed rate, or a metered link).
    std::optional<std::int64_t> maxBitrate;
    // --stats: the desktop host writes where each second's frames spent their time, on standard error.
    bool stats = false;
    std::string error;  // usageError: what is wrong, for standard error
    // autostart: --autostart on (or off)
    bool autostartOn = false;

    bool operator==(const CommandLine&) const = default;
};

// arguments[0] is the program path.
[[nodiscard]] CommandLine parseCommandLine(std::span<const std::string_view> arguments);

// The text of --help.
[[nodiscard]] std::string helpText();

}  // namespace vantrel
