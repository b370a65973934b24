#pragma once

#include <string>

namespace vantrel {

// Keeps the desktop from blanking or locking while a phone watches it: on Linux the session's
// screen saver is asked to inhibit itself (org.freedesktop.ScreenSaver.Inhibit), logind's idle
// inhibitor is held, and the desktop backend adds its own hold (X11: the X screen saver is
// suspended). Failures are logged and otherwise ignored: the phone still works.
//
// Lives on the main thread.
class KeepAwake {
public:
    virtual ~KeepAwake() = default;

    // Takes the hold with reason; a second hold while one is held changes nothing.
    virtual void hold(const std::string& reason) = 0;
    // Gives the hold back; nothing happens without one.
    virtual void release() = 0;
};

}  // namespace vantrel
