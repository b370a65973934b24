#include "Backends/wlroots/ForeignToplevels.hpp"

#include <wayland-client.h>

#include <algorithm>
#include <atomic>

#include <wlr-foreign-toplevel-management-unstable-v1-client-protocol.h>
#include "Backends/wlroots/WaylandConnection.hpp"
#include "Backends/wlroots/WaylandOutputs.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::wayland {

namespace {

// Window ids are the follower's memory of which windows it has seen: one that repeated after the
// connection was opened again would hide a new window behind an old one.
std::uint32_t nextId() {
    static std::atomic<std::uint32_t> counter{0};
    return ++counter;
}

}  // namespace

struct ForeignToplevels::Toplevel {
    ForeignToplevels* owner = nullptr;
    ProxyPtr<zwlr_foreign_toplevel_handle_v1> handle;
    ToplevelFacts facts;
    bool described = false;  // a first done arrived
};

ForeignToplevels::ForeignToplevels(WaylandConnection& connection, WaylandOutputs& outputs)
    : connection_(connection), outputs_(outputs) {
    manager_.reset(
        connection.bindFirst<zwlr_foreign_toplevel_manager_v1>(zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (manager_ == nullptr) {
        diagnosticLog().warn(
            "{}: the compositor lists no windows (no zwlr_foreign_toplevel_manager_v1): no window "
            "following, no running applications",
            connection.purpose());
        return;
    }
    seat_.reset(connection.bindFirst<wl_seat>(wl_seat_interface, 1));
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {
        .toplevel = [](void* data, zwlr_foreign_toplevel_manager_v1*,
                       zwlr_foreign_toplevel_handle_v1* handle) { static_cast<ForeignToplevels*>(data)->add(handle); },
        .finished = [](void* data,
                       zwlr_foreign_toplevel_manager_v1*) { static_cast<ForeignToplevels*>(data)->finished_ = true; },
    };
    zwlr_foreign_toplevel_manager_v1_add_listener(manager_.get(), &listener, this);
    connection.roundtrip();
    numberOldestFirst();
}

void ForeignToplevels::numberOldestFirst() {
    // wlroots announces the windows that exist when the list is bound newest first (later ones as
    // they open): numbered again from the oldest, they come in the order they opened, as the
    // running applications list them.
    std::vector<std::unique_ptr<Toplevel>> announced;
    for (auto& [id, toplevel] : toplevels_) {
        announced.push_back(std::move(toplevel));
    }
    toplevels_.clear();
    std::map<std::uint32_t, std::uint32_t> renumbered;
    for (auto toplevel = announced.rbegin(); toplevel != announced.rend(); ++toplevel) {
        const auto id = nextId();
        renumbered[(*toplevel)->facts.id] = id;
        (*toplevel)->facts.id = id;
        toplevels_[id] = std::move(*toplevel);
    }
    for (auto& [id, toplevel] : toplevels_) {
        if (auto& parent = toplevel->facts.parent) {
            parent = renumbered.contains(*parent) ? std::optional(renumbered[*parent]) : std::nullopt;
        }
    }
}

ForeignToplevels::~ForeignToplevels() {
    toplevels_.clear();
    if (manager_ != nullptr && !finished_) {
        // Asks the compositor to end the list; its last word (finished) finds no listener, which
        // the protocol allows.
        zwlr_foreign_toplevel_manager_v1_stop(manager_.get());
        connection_.flush();
    }
}

bool ForeignToplevels::available() const {
    return manager_ != nullptr && !finished_;
}

std::optional<std::uint32_t> ForeignToplevels::idOf(const zwlr_foreign_toplevel_handle_v1* handle) const {
    for (const auto& [id, toplevel] : toplevels_) {
        if (handle != nullptr && toplevel->handle.get() == handle) {
            return id;
        }
    }
    return std::nullopt;
}

void ForeignToplevels::add(zwlr_foreign_toplevel_handle_v1* handle) {
    auto toplevel = std::make_unique<Toplevel>();
    toplevel->owner = this;
    toplevel->handle.reset(handle);
    toplevel->facts.id = nextId();
    static const zwlr_foreign_toplevel_handle_v1_listener listener = {
        .title = [](void* data, zwlr_foreign_toplevel_handle_v1*,
                    const char* title) { static_cast<Toplevel*>(data)->facts.title = title != nullptr ? title : ""; },
        .app_id = [](void* data, zwlr_foreign_toplevel_handle_v1*,
                     const char* appId) { static_cast<Toplevel*>(data)->facts.appId = appId != nullptr ? appId : ""; },
        .output_enter =
            [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
                auto& self = *static_cast<Toplevel*>(data);
                const auto id = self.owner->outputs_.idOf(output);
                auto& outputs = self.facts.outputs;
                if (id && std::find(outputs.begin(), outputs.end(), *id) == outputs.end()) {
                    outputs.push_back(*id);
                }
            },
        .output_leave =
            [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_output* output) {
                auto& self = *static_cast<Toplevel*>(data);
                if (const auto id = self.owner->outputs_.idOf(output)) {
                    std::erase(self.facts.outputs, *id);
                }
            },
        .state =
            [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
                auto& self = *static_cast<Toplevel*>(data);
                const bool wasActivated = self.facts.activated;
                self.facts.activated = self.facts.minimized = self.facts.maximized = self.facts.fullscreen = false;
                const auto* state = static_cast<const std::uint32_t*>(states->data);
                for (std::size_t index = 0; index < states->size / sizeof(std::uint32_t); ++index) {
                    switch (state[index]) {
                        case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED: self.facts.activated = true; break;
                        case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED: self.facts.minimized = true; break;
                        case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED: self.facts.maximized = true; break;
                        case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN: self.facts.fullscreen = true; break;
                        default: break;  // states of later versions
                    }
                }
                if (self.facts.activated && !wasActivated) {
                    self.facts.activatedAt = ++self.owner->activations_;
                }
            },
        .done = [](void* data, zwlr_foreign_toplevel_handle_v1*) { static_cast<Toplevel*>(data)->described = true; },
        .closed =
            [](void* data, zwlr_foreign_toplevel_handle_v1*) {
                auto& self = *static_cast<Toplevel*>(data);
                // The handle is inert now: destroyed with what we knew of it.
                self.owner->toplevels_.erase(self.facts.id);
            },
        .parent =
            [](void* data, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1* parent) {
                auto& self = *static_cast<Toplevel*>(data);
                self.facts.parent = self.owner->idOf(parent);
            },
    };
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, toplevel.get());
    toplevels_[toplevel->facts.id] = std::move(toplevel);
}

std::vector<ToplevelFacts> ForeignToplevels::toplevels() const {
    std::vector<ToplevelFacts> listed;
    for (const auto& [id, toplevel] : toplevels_) {
        if (toplevel->described) {
            listed.push_back(toplevel->facts);
        }
    }
    return listed;
}

bool ForeignToplevels::activate(std::uint32_t id) {
    const auto found = toplevels_.find(id);
    if (found == toplevels_.end() || seat_ == nullptr) {
        return false;
    }
    zwlr_foreign_toplevel_handle_v1* const handle = found->second->handle.get();
    if (found->second->facts.minimized) {
        zwlr_foreign_toplevel_handle_v1_unset_minimized(handle);
    }
    zwlr_foreign_toplevel_handle_v1_activate(handle, seat_.get());
    return connection_.flush();
}

}  // namespace vantrel::wayland
