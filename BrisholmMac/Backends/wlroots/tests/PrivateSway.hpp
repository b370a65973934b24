#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace vantrel::testing {

// One output of a headless compositor, in pixels.
struct HeadlessOutput {
    int width = 1280;
    int height = 720;
};

// A headless sway of the test's own (pixman renderer, no input devices, no Xwayland), so a test
// can add outputs, open windows and watch focus without disturbing other tests. sway refuses to
// run as root, so under root it runs as nobody; the test's clients (root) may connect anyway.
// While it lives, WAYLAND_DISPLAY names it (an absolute path) and the windows it opens write into
// directory(), which its user may write.
class PrivateSway {
public:
    using Output = HeadlessOutput;

    // The outputs side by side from the left, named HEADLESS-1, HEADLESS-2 ...; configLines are added
    // to sway's configuration ("input * xkb_layout de"). Check ok() before use.
    explicit PrivateSway(std::vector<Output> outputs = {Output{}}, std::vector<std::string> configLines = {});
    // A sway inside host's session, with outputs outputs (WL-1, WL-2 ...): each is a window on
    // host, sized by host's tiling, and goes away when that window is closed (unplug()), as a
    // monitor unplugged does. A headless sway cannot lose an output.
    PrivateSway(const PrivateSway& host, int outputs);
    ~PrivateSway();
    PrivateSway(const PrivateSway&) = delete;
    PrivateSway& operator=(const PrivateSway&) = delete;

    [[nodiscard]] bool ok() const { return !waylandDisplay_.empty(); }
    // Why it is not ok, for a skip message.
    [[nodiscard]] const std::string& failure() const { return failure_; }
    [[nodiscard]] const std::string& waylandDisplay() const { return waylandDisplay_; }
    [[nodiscard]] const std::string& directory() const { return directory_; }

    // Runs an IPC command ("create_output", "exec foot", "-t get_tree"); its standard output, empty
    // when swaymsg failed.
    [[nodiscard]] std::string message(const std::string& command) const;
    // Adds an output (HEADLESS-n, n counting from the ones made at the start) at width x height,
    // right of the others.
    bool addOutput(int width, int height);
    // Unplugs output (WL-n) of a sway inside another; false for a headless one.
    bool unplug(const std::string& output) const;
    // Starts a program in the session as sway's user (swaymsg exec): the shell command line as it is.
    bool launch(const std::string& commandLine) const;
    // The name of the focused window's application, or the focused output's name for an empty
    // desktop; empty when sway does not answer.
    [[nodiscard]] std::string focusedName() const;
    // The process of the window of application appId, none when sway shows no such window.
    [[nodiscard]] std::optional<pid_t> pidOf(const std::string& appId) const;
    // Stops sway until resume(), as a compositor busy with other work would: it reads nothing meanwhile.
    void pause() const;
    void resume() const;
    // The last lines of sway's log (its clients' standard error included), for a failure's message.
    [[nodiscard]] std::string logTail(std::size_t lines = 30) const;

private:
    void start(std::vector<Output> outputs, const std::vector<std::string>& configLines);

    const PrivateSway* host_ = nullptr;
    std::string directory_;
    std::string waylandDisplay_;
    std::string ipcSocket_;
    std::string failure_;
    std::string previousDisplay_;
    bool hadDisplay_ = false;
    pid_t pid_ = -1;
    int outputs_ = 0;
    int rightEdge_ = 0;
};

}  // namespace vantrel::testing
