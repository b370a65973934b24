#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Backends/wlroots/WaylandConnection.hpp"
#include "Capture/Displays.hpp"

namespace vantrel::wayland {

// What the compositor says of one output: wl_output's make and model, xdg-output's name,
// description and place on the desktop in logical pixels (scaled and rotated as the user sees it).
struct OutputFacts {
    std::uint32_t id = 0;     // the output's number in the registry
    std::string name;         // "DP-1", "HEADLESS-2"
    std::string description;  // the compositor's words: "Dell Inc. DELL U2720Q ABC123 (DP-1)"
    std::string make;         // "Dell Inc."; "Unknown" or empty when the compositor has none
    std::string model;        // "DELL U2720Q"
    Rect logical;             // in desktop points
    bool operator==(const OutputFacts&) const = default;
};

// The output as the host's displays know it: the model's name (make and model, without the words
// compositors put for an unknown one), else the description without the connector the
// disambiguation adds anyway, else the connector.
[[nodiscard]] MonitorFacts monitorFacts(const OutputFacts& output);

// Follows the compositor's outputs on one connection: binds every wl_output, coming or going, and
// its xdg-output for the logical geometry and name. Only outputs whose facts are complete (a first
// done arrived) are listed.
//
// Lives on the thread of its connection.
class WaylandOutputs {
public:
    // Needs xdg-output (zxdg_output_manager_v1, version 2 or later for names); without it outputs
    // lists nothing (the reason is logged once).
    explicit WaylandOutputs(WaylandConnection& connection);
    ~WaylandOutputs();
    WaylandOutputs(const WaylandOutputs&) = delete;
    WaylandOutputs& operator=(const WaylandOutputs&) = delete;

    // The outputs with complete facts, in the registry's order (the order they were plugged in).
    [[nodiscard]] std::vector<OutputFacts> outputs() const;
    // The logical rectangles of outputs(), in its order, without copying the rest of the facts
    // (the input device places the pointer with them at every move).
    [[nodiscard]] std::vector<Rect> logicalRects() const;
    // Goes up whenever an output comes, goes or changes its facts: a user that keeps what it saw
    // compares numbers instead of lists.
    [[nodiscard]] std::uint64_t revision() const { return revision_; }
    // Whether every output bound so far has its facts: an output announced during a round trip is
    // bound in it, and its facts come with the next one.
    [[nodiscard]] bool settled() const;
    // The output's proxy for requests that name an output (capture, a pointer bound to it); null
    // for an unknown id.
    [[nodiscard]] wl_output* proxy(std::uint32_t id) const;
    // The id of the output behind proxy, as events of other protocols name it (a window entering
    // an output); none for a proxy not made here.
    [[nodiscard]] std::optional<std::uint32_t> idOf(const wl_output* proxy) const;

private:
    struct Output;
    void add(const Global& global);

    WaylandConnection& connection_;
    ProxyPtr<zxdg_output_manager_v1> manager_;
    std::map<std::uint32_t, std::unique_ptr<Output>> outputs_;
    std::uint64_t revision_ = 0;
};

}  // namespace vantrel::wayland
