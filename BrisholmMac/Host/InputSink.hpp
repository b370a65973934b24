#pragma once

#include "vantrel/InputEvent.hpp"

namespace vantrel {

// Where the phone's input goes: the log of the headless host, the input injector of the desktop
// host. Called on the main queue only.
class InputSink {
public:
    virtual ~InputSink() = default;

    virtual void handle(const InputEvent& event) = 0;

    // The phone has gone: nothing it pressed may stay pressed.
    virtual void releaseAll() = 0;
};

}  // namespace vantrel
