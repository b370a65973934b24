#pragma once

#include <spdlog/logger.h>

#include <string>
#include <string_view>

namespace vantrel {

// The host's diagnostic log: the reason for every failure, refusal and fallback, for the developer
// or user who wants to know why a phone cannot connect. It goes to standard error only; standard
// output belongs to the headless host's event lines, which are a contract.
//
// The level comes from the environment variable VANTREL_LOG (trace, debug, info, warning, error,
// off; info when unset or unknown) when the log is first used; --verbose raises it to debug.
// Thread-safe: any queue may write.
[[nodiscard]] spdlog::logger& diagnosticLog();

// Text from the phone (names, identifiers) made safe for a log line: control characters become
// escapes (\n, \t, \x1b ...), so a phone cannot end a line and forge the next one.
[[nodiscard]] std::string oneLine(std::string_view text);

// Shows debug messages from now on (the command line's --verbose).
void setVerboseDiagnostics();

}  // namespace vantrel
