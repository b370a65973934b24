#pragma once

#include <chrono>
#include <string>

#include "PrivateSway.hpp"

namespace vantrel::testing {

// A foot terminal in a PrivateSway whose shell copies what it reads to a file (`cat > FILE`): the
// terminal's line discipline hands cat each line once Return arrives, so the file holds exactly the
// lines typed into the window.
class TypingWindow {
public:
    // Starts the window with app id appId and waits until sway has given it the focus.
    TypingWindow(const PrivateSway& sway, std::string appId);
    // Closes the window, so that the next one opens alone (a window opened beside another gets
    // the keyboard a moment after sway's tree says it has the focus).
    ~TypingWindow();
    TypingWindow(const TypingWindow&) = delete;
    TypingWindow& operator=(const TypingWindow&) = delete;

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] const std::string& appId() const { return appId_; }
    // What the window has received so far (whole lines).
    [[nodiscard]] std::string received() const;
    // Waits until the file holds at least as many bytes as expected, or timeout passes; what it
    // holds then. A wait that runs out says on standard error whether the window is still open,
    // with the end of the compositor's log (where the terminal's own complaints go).
    [[nodiscard]] std::string waitFor(const std::string& expected,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Stops the terminal until resume(), as an application busy with other work: it reads
    // nothing meanwhile. False when its process is not known.
    bool pause() const;
    void resume() const;

private:
    const PrivateSway& sway_;
    std::string appId_;
    std::string path_;
    bool ok_ = false;
};

}  // namespace vantrel::testing
