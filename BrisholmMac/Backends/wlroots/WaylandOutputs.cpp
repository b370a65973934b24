#include "Backends/wlroots/WaylandOutputs.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include <xdg-output-unstable-v1-client-protocol.h>
#include "Log/DiagnosticLog.hpp"

namespace vantrel::wayland {

namespace {

// Words compositors put where a monitor's EDID says nothing.
bool meaningful(std::string_view text) {
    constexpr std::array<std::string_view, 3> unknown = {"", "Unknown", "unknown"};
    return std::find(unknown.begin(), unknown.end(), text) == unknown.end();
}

// The description without a trailing " (NAME)": the disambiguation adds the connector where two
// would read the same, and only there.
std::string withoutConnector(const std::string& description, const std::string& name) {
    const std::string suffix = " (" + name + ")";
    if (!name.empty() && description.size() > suffix.size() &&
        description.compare(description.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return description.substr(0, description.size() - suffix.size());
    }
    return description;
}

}  // namespace

MonitorFacts monitorFacts(const OutputFacts& output) {
    MonitorFacts monitor;
    monitor.id = output.id;
    monitor.bounds = output.logical;
    monitor.monitorName = output.name;
    monitor.outputName = output.name;
    if (meaningful(output.model)) {
        monitor.productName = meaningful(output.make) && output.model.rfind(output.make, 0) != 0
                                  ? output.make + " " + output.model
                                  : output.model;
    } else if (!output.description.empty()) {
        monitor.productName = withoutConnector(output.description, output.name);
    }
    return monitor;
}

struct WaylandOutputs::Output {
    OutputFacts facts;
    ProxyPtr<wl_output> output;
    ProxyPtr<zxdg_output_v1> xdgOutput;
    bool sized = false;
    std::uint64_t* revision = nullptr;  // the owner's, raised by every change of the facts
};

WaylandOutputs::WaylandOutputs(WaylandConnection& connection) : connection_(connection) {
    manager_.reset(connection.bindFirst<zxdg_output_manager_v1>(zxdg_output_manager_v1_interface, 3));
    if (manager_ == nullptr) {
        diagnosticLog().warn("{}: the compositor offers no xdg-output: its outputs cannot be placed",
                             connection.purpose());
    }
    for (const auto& [name, global] : connection.globals()) {
        add(global);
    }
    connection.followGlobals([this](const Global& global) { add(global); },
                             [this](std::uint32_t name) {
                                 if (outputs_.erase(name) != 0) {
                                     ++revision_;
                                 }
                             });
    connection.roundtrip();
}

WaylandOutputs::~WaylandOutputs() = default;

void WaylandOutputs::add(const Global& global) {
    if (global.interface != wl_output_interface.name || manager_ == nullptr) {
        return;
    }
    auto output = std::make_unique<Output>();
    output->facts.id = global.name;
    output->revision = &revision_;
    output->output.reset(static_cast<wl_output*>(connection_.bind(global, wl_output_interface, 3)));
    static const wl_output_listener outputListener = {
        .geometry =
            [](void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
               const char* make, const char* model, std::int32_t) {
                auto& self = *static_cast<Output*>(data);
                self.facts.make = make != nullptr ? make : "";
                self.facts.model = model != nullptr ? model : "";
                ++*self.revision;
            },
        .mode = [](void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {},
        .done = [](void*, wl_output*) {},
        .scale = [](void*, wl_output*, std::int32_t) {},
        .name = [](void*, wl_output*, const char*) {},
        .description = [](void*, wl_output*, const char*) {},
    };
    wl_output_add_listener(output->output.get(), &outputListener, output.get());
    output->xdgOutput.reset(zxdg_output_manager_v1_get_xdg_output(manager_.get(), output->output.get()));
    static const zxdg_output_v1_listener xdgListener = {
        .logical_position =
            [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
                auto& self = *static_cast<Output*>(data);
                self.facts.logical.x = x;
                self.facts.logical.y = y;
                ++*self.revision;
            },
        .logical_size =
            [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
                auto& self = *static_cast<Output*>(data);
                self.facts.logical.width = width;
                self.facts.logical.height = height;
                self.sized = width > 0 && height > 0;
                ++*self.revision;
            },
        // Version 3 leaves the atomic end of a change to wl_output's done, which we bind below
        // version 4; the first logical size is what makes an output listable either way.
        .done = [](void*, zxdg_output_v1*) {},
        .name =
            [](void* data, zxdg_output_v1*, const char* name) {
                auto& self = *static_cast<Output*>(data);
                self.facts.name = name;
                ++*self.revision;
            },
        .description =
            [](void* data, zxdg_output_v1*, const char* description) {
                auto& self = *static_cast<Output*>(data);
                self.facts.description = description;
                ++*self.revision;
            },
    };
    zxdg_output_v1_add_listener(output->xdgOutput.get(), &xdgListener, output.get());
    outputs_[global.name] = std::move(output);
}

std::vector<OutputFacts> WaylandOutputs::outputs() const {
    std::vector<OutputFacts> listed;
    for (const auto& [name, output] : outputs_) {
        if (output->sized) {
            listed.push_back(output->facts);
        }
    }
    return listed;
}

std::vector<Rect> WaylandOutputs::logicalRects() const {
    std::vector<Rect> rects;
    for (const auto& [name, output] : outputs_) {
        if (output->sized) {
            rects.push_back(output->facts.logical);
        }
    }
    return rects;
}

bool WaylandOutputs::settled() const {
    return std::all_of(outputs_.begin(), outputs_.end(), [](const auto& entry) { return entry.second->sized; });
}

wl_output* WaylandOutputs::proxy(std::uint32_t id) const {
    const auto found = outputs_.find(id);
    return found != outputs_.end() ? found->second->output.get() : nullptr;
}

std::optional<std::uint32_t> WaylandOutputs::idOf(const wl_output* proxy) const {
    for (const auto& [id, output] : outputs_) {
        if (proxy != nullptr && output->output.get() == proxy) {
            return id;
        }
    }
    return std::nullopt;
}

}  // namespace vantrel::wayland
