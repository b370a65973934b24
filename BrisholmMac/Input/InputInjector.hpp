#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Geometry/Geometry.hpp"
#include "Input/InputDevice.hpp"
#include "Input/SpareKeycodes.hpp"
#include "vantrel/InputEvent.hpp"

namespace vantrel {

// Turns the phone's input events into input on this desktop: pointer moves confined to the display
// the phone watches, buttons with their click series, pixel scrolling as wheel clicks, keys at the
// phone keyboard's physical places with exactly the modifiers the phone asked for, and Unicode text
// typed through the desktop's own keymap.
//
// It remembers every button and key it holds down, so that releaseAll() (called when the phone
// leaves) leaves nothing pressed, and text typing starts from a keyboard with no key held.
//
// Lives on the main thread: the controller posts each event there. No lock.
class InputInjector {
public:
    // The bounds of the display the phone watches, in desktop points, read at each event; none
    // when that display is not known. The host session owns which display that is.
    using ActiveBounds = std::function<std::optional<Rect>()>;
    // Seconds on a monotonic clock (click series are timed with it).
    using Clock = std::function<double()>;

    // The pixels of one wheel click. X clients scroll about three lines, some 50 pixels, per click.
    static constexpr double pixelsPerWheelClick = 50;
    // At most this many wheel clicks per axis and event, so that an absurd scroll amount cannot keep
    // the desktop busy for minutes; the excess is dropped, not carried.
    static constexpr int maxWheelClicksPerEvent = 100;
    // A press continues its button's click series within this time and distance of the last press.
    static constexpr double clickSeriesSeconds = 0.4;
    static constexpr double clickSeriesPoints = 4;

    InputInjector(std::shared_ptr<InputDevice> device, ActiveBounds activeBounds, Clock clock = {});
    ~InputInjector();
    InputInjector(const InputInjector&) = delete;
    InputInjector& operator=(const InputInjector&) = delete;

    // Called before every button press (not release).
    std::function<void()> onClick;

    void handle(const InputEvent& event);

    // Moves the pointer to a desktop point, confined to the active display (a drag when a button is
    // held). The controller also uses it to place the pointer on a newly chosen display.
    void movePointer(Point to);

    // Releases every button and key still held and gives back the keys lent to characters.
    void releaseAll();

    // Where the pointer is, in desktop points; none when it cannot be read.
    [[nodiscard]] std::optional<Point> pointerLocation();

    // The click count of the current press series, 1 to 3 (X clients count clicks themselves; this
    // is the host's own record of the series).
    [[nodiscard]] int clickCount() const { return clickCount_; }

private:
    void press(MouseButton button, bool down);
    void scroll(double dx, double dy);
    void key(const input::Key& event);
    void type(const std::string& utf8);
    // Text on a device that pastes what its keymap lacks: typed runs and pasted runs in order.
    void typeOrPaste(std::u32string_view text);
    // One chunk on the keymap's keys, borrowing spare keys for what it lacks.
    void typeChunk(const std::u32string& chunk);
    void releaseKeys();
    [[nodiscard]] Point currentLocation();
    // Where relative moves start: the pointer's place with the fraction of the last move kept.
    [[nodiscard]] Point exactLocation();
    void checkThread() const;

    std::shared_ptr<InputDevice> device_;
    ActiveBounds activeBounds_;
    Clock clock_;
    std::set<MouseButton> buttonsDown_;
    std::map<MouseButton, double> lastClickTime_;
    Point lastClickLocation_;
    int clickCount_ = 1;
    Point scrollRemainder_;
    // Where this injector last put the pointer, fraction included.
    std::optional<Point> placed_;
    // Keys held through key events, with the modifier each holds (if it is a modifier key).
    std::map<Keycode, std::optional<ModifierKey>> keysDown_;
    SpareKeycodes spareKeycodes_;
    std::thread::id thread_ = std::this_thread::get_id();
};

}  // namespace vantrel
