#pragma once

#include <nlohmann/json.hpp>

#include "vantrel/Bytes.hpp"
#include "vantrel/MessageType.hpp"

namespace vantrel::probe {

// One received message as the probe prints it: {"kind", "size", "body"}. The body is decoded
// with the protocol's own decoders, so a message the host got wrong shows up as
// "body": null with an "error" instead of passing for valid. Binary video bodies are summarised
// (flags, timestamp, sizes), never dumped; application icons appear as their byte count.
[[nodiscard]] nlohmann::json describeMessage(MessageType type, ByteView body);

}  // namespace vantrel::probe
