#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vantrel/Bytes.hpp"
#include "vantrel/MessageType.hpp"

namespace vantrel::probe {

// One message of a --script file: wait delay after the previous step, then send type with body.
struct ScriptStep {
    std::chrono::milliseconds delay{0};
    MessageType type = MessageType::ping;
    Bytes body;
    std::size_t line = 0;  // in the file, for messages about this step
};

struct ScriptError {
    std::string message;  // names the line
};

using ParsedScript = std::variant<std::vector<ScriptStep>, ScriptError>;

// Reads a script: one JSON object per line, blank lines and lines starting with '#' skipped.
// Each object holds an optional "delay" (whole milliseconds, 0 to one hour) and exactly one of
// "input", "selectDisplay", "openApp", "ping" (a string, sent as its bytes), "requestKeyframe" or
// "frameAck" (a single acknowledgement, for testing how a host treats a phone that stops acking).
// Bodies are checked with the protocol's own decoders and sent in their canonical encoding, so a
// typo is reported with its line before anything reaches the host.
[[nodiscard]] ParsedScript parseScript(std::string_view text);

}  // namespace vantrel::probe
