#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Geometry/Geometry.hpp"
#include "vantrel/ControlMessages.hpp"

namespace vantrel {

// The pixel size at which a display is captured and announced to the phone.
struct StreamSize {
    std::int64_t width = 0;
    std::int64_t height = 0;

    bool operator==(const StreamSize&) const = default;
};

// The stream size for a display of this many pixels: the longer side capped at 2560 with the
// aspect ratio kept (never enlarged), rounded half away from zero, then each side at least 2 and
// even, as 4:2:0 pictures need. The welcome and the capture both use it, so the sizes the phone
// is told are the sizes of the frames it receives.
[[nodiscard]] StreamSize streamSizeFor(std::int64_t pixelWidth, std::int64_t pixelHeight);

// What the display server says about one monitor. On X11 the id is the RandR monitor's name
// atom, which stays the same while the monitor exists.
struct MonitorFacts {
    std::uint32_t id = 0;
    bool primary = false;
    Rect bounds;              // in desktop points (= X pixels)
    std::string monitorName;  // the monitor's own name ("DP-1", or what xrandr --setmonitor gave)
    std::string outputName;   // the name of its first output; empty without one
    std::string productName;  // the monitor name of that output's EDID; empty without one

    bool operator==(const MonitorFacts&) const = default;
};

// The user-visible name: the EDID product name, else the output's, else the monitor's own name,
// else "Display " and the id.
[[nodiscard]] std::string displayName(const MonitorFacts& monitor);

// The user-visible names of monitors, in their order: displayName() of each, made distinct where
// two would read the same (two monitors of one model) by the connector ("DELL U2720Q (DP-1)").
// The panel's picker and the phone's welcome both show these.
[[nodiscard]] std::vector<std::string> displayNames(const std::vector<MonitorFacts>& monitors);

// The monitor name from an EDID block (the display descriptor tagged 0xFC), printable ASCII
// with the padding removed; no value when the block is not a valid EDID or has no such name.
[[nodiscard]] std::optional<std::string> edidProductName(std::span<const std::uint8_t> edid);

// Stable reordering with the primary monitor first; the server's order otherwise.
[[nodiscard]] std::vector<MonitorFacts> primaryFirst(std::vector<MonitorFacts> monitors);

// The displays of the desktop, read from the display server at each call (nothing is cached), in
// one order everywhere: the primary monitor first, then the others in the server's order.
//
// Lives on the main thread; the desktop backend provides it (X11: RandR 1.5 monitors).
class Displays {
public:
    virtual ~Displays() = default;

    // The welcome's entries: id, name and stream size of each display. Empty when the server
    // cannot be read.
    [[nodiscard]] std::vector<DisplayInfo> list();
    // The display's name; "Display " and the id for an unknown one.
    [[nodiscard]] std::string name(std::uint32_t id);
    // streamSizeFor() of the display's pixel size; the rule's 2x2 for an unknown id.
    [[nodiscard]] StreamSize streamSize(std::uint32_t id);
    // Each display's place on the desktop, in the order of list().
    [[nodiscard]] std::vector<DisplayBounds> layout();
    // The main display: the primary monitor, else the first one; none without monitors.
    [[nodiscard]] std::optional<std::uint32_t> primary();

protected:
    // The monitors as the server has them now, in the server's order.
    [[nodiscard]] virtual std::vector<MonitorFacts> monitors() = 0;

private:
    std::optional<MonitorFacts> find(std::uint32_t id);
};

}  // namespace vantrel
