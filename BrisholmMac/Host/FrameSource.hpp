#pragma once

#include <functional>
#include <optional>
#include <string>

#include "vantrel/ControlMessages.hpp"

namespace vantrel {

// Where a host's pictures come from: the test pattern of the headless host, the captured display
// of the desktop host. A source feeds the encoder it was made with, on a queue of its own.
//
// Called from the main queue. Completions and onStopped may run on the source's own queue;
// the host session hops back to the main queue itself.
class FrameSource {
public:
    // A failure the user can act on, in the host's own words (shown in the menu or the log).
    using Failure = std::optional<std::string>;

    virtual ~FrameSource() = default;

    // From now on, pictures of this display at its stream size; a running source switches over.
    // started reports the outcome once.
    virtual void start(const DisplayInfo& display, std::function<void(Failure)> started) = 0;

    // No phone watches any more: the source may rest. stopped runs once it does.
    virtual void stop(std::function<void()> stopped) = 0;

    // The next picture is a key frame, and it is produced now, even when nothing has changed.
    virtual void sendKeyframeNow() = 0;

    // Whether the server is holding frames back for a phone that fell behind: the source may
    // spare what only improves a picture (refinements). Called on the server's queue.
    virtual void setHoldingBack(bool /*holding*/) {}

    // The source ended by itself (the connection to the display broke). Set once while wiring.
    std::function<void(Failure)> onStopped;
    // The display it showed went away (a monitor unplugged); the source rests until it is started
    // again, on another display. Set once while wiring.
    std::function<void()> onDisplayGone;
};

}  // namespace vantrel
