#pragma once

#include <string_view>

namespace vantrel::probe {

// The probe's exit status. Each failure a user (or a test script) has to tell apart gets its own
// value; --help lists them, so the numbers are part of the tool's interface and never change.
enum class ExitCode : int {
    ok = 0,               // the probe ended the session itself: --seconds, --frames or Ctrl-C
    localFailure = 1,     // something on this machine failed (decoder, writing output)
    usage = 2,            // the command line, the script or an output path is unusable
    badLink = 3,          // the pairing link does not parse
    noHostReachable = 4,  // no address answered on the link's port
    handshakeFailed = 5,  // TCP connected, TLS did not: most likely a wrong or rotated key
    greetingRefused = 6,  // the host closed before its welcome: most likely another protocol version
    connectionLost = 7,   // after the greeting: a transport error, or the host ended the session
    interrupted = 130,    // Ctrl-C before the greeting was complete (the shell's 128 + SIGINT)
};

[[nodiscard]] constexpr int toInt(ExitCode code) {
    return static_cast<int>(code);
}

}  // namespace vantrel::probe
