#include "Backends/gnome/DisplayConfig.hpp"

#include <cmath>
#include <string>
#include <utility>

#include "Backends/gnome/DBusCall.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::gnome {

namespace {

constexpr const char* displayConfigPath = "/org/gnome/Mutter/DisplayConfig";
constexpr const char* stateType = "(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})";
// DisplayConfig's layout modes: logical monitors placed in logical pixels (a monitor at scale 2
// takes half its mode's pixels) or in physical pixels.
constexpr std::uint32_t logicalLayout = 1;

// What one physical monitor of the reply tells.
struct Monitor {
    std::string connector;
    std::string displayName;  // "Dell 27\"", the compositor's words for it
    std::int32_t width = 0;   // its current mode, in pixels
    std::int32_t height = 0;
};

std::string text(GVariant* value) {
    return value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ? g_variant_get_string(value, nullptr)
                                                                                  : "";
}

Monitor readMonitor(GVariant* entry) {
    Monitor monitor;
    const char* connector = nullptr;
    const char* vendor = nullptr;
    const char* product = nullptr;
    const char* serial = nullptr;
    GVariantIter* modes = nullptr;
    GVariant* properties = nullptr;
    g_variant_get(entry, "((&s&s&s&s)a(siiddada{sv})@a{sv})", &connector, &vendor, &product, &serial, &modes,
                  &properties);
    monitor.connector = connector;
    const GVariantPtr name(g_variant_lookup_value(properties, "display-name", G_VARIANT_TYPE_STRING));
    monitor.displayName = text(name.get());
    if (monitor.displayName.empty()) {
        monitor.displayName = std::string(vendor) + (vendor[0] != '\0' && product[0] != '\0' ? " " : "") + product;
    }
    GVariant* mode = nullptr;
    while ((mode = g_variant_iter_next_value(modes)) != nullptr) {
        const GVariantPtr owned(mode);
        std::int32_t width = 0;
        std::int32_t height = 0;
        GVariant* modeProperties = nullptr;
        g_variant_get(mode, "(&siiddad@a{sv})", nullptr, &width, &height, nullptr, nullptr, nullptr, &modeProperties);
        const GVariantPtr ownedProperties(modeProperties);
        gboolean current = FALSE;
        if (g_variant_lookup(modeProperties, "is-current", "b", &current) && current != FALSE) {
            monitor.width = width;
            monitor.height = height;
        }
    }
    g_variant_iter_free(modes);
    g_variant_unref(properties);
    return monitor;
}

}  // namespace

std::uint32_t monitorId(std::string_view connector) {
    // FNV-1a: stable across runs and processes, unlike std::hash.
    std::uint32_t hash = 2166136261U;
    for (const char c : connector) {
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619U;
    }
    return hash != 0 ? hash : 1;
}

std::vector<MonitorFacts> monitorsFromState(GVariant* state) {
    if (state == nullptr || !g_variant_is_of_type(state, G_VARIANT_TYPE(stateType))) {
        return {};
    }
    const GVariantPtr monitorList(g_variant_get_child_value(state, 1));
    const GVariantPtr logicalList(g_variant_get_child_value(state, 2));
    const GVariantPtr properties(g_variant_get_child_value(state, 3));
    std::uint32_t layoutMode = logicalLayout;
    g_variant_lookup(properties.get(), "layout-mode", "u", &layoutMode);

    std::vector<Monitor> physical;
    for (gsize index = 0; index < g_variant_n_children(monitorList.get()); ++index) {
        const GVariantPtr entry(g_variant_get_child_value(monitorList.get(), index));
        physical.push_back(readMonitor(entry.get()));
    }

    std::vector<MonitorFacts> monitors;
    for (gsize index = 0; index < g_variant_n_children(logicalList.get()); ++index) {
        const GVariantPtr entry(g_variant_get_child_value(logicalList.get(), index));
        std::int32_t x = 0;
        std::int32_t y = 0;
        double scale = 1;
        std::uint32_t transform = 0;
        gboolean primary = FALSE;
        g_variant_get(entry.get(), "(iidub@a(ssss)@a{sv})", &x, &y, &scale, &transform, &primary, nullptr, nullptr);
        const GVariantPtr members(g_variant_get_child_value(entry.get(), 5));
        if (g_variant_n_children(members.get()) == 0) {
            continue;
        }
        // Mirrored monitors share one logical monitor; the first names it.
        const GVariantPtr first(g_variant_get_child_value(members.get(), 0));
        const GVariantPtr connectorValue(g_variant_get_child_value(first.get(), 0));
        const std::string connector = text(connectorValue.get());
        const Monitor* monitor = nullptr;
        for (const auto& candidate : physical) {
            if (candidate.connector == connector) {
                monitor = &candidate;
            }
        }
        if (monitor == nullptr || monitor->width <= 0 || monitor->height <= 0) {
            continue;
        }
        // Transforms 1, 3, 5 and 7 turn the monitor by a quarter.
        const bool turned = (transform % 2) == 1;
        double width = turned ? monitor->height : monitor->width;
        double height = turned ? monitor->width : monitor->height;
        if (layoutMode == logicalLayout && scale > 0) {
            width = std::round(width / scale);
            height = std::round(height / scale);
        }
        MonitorFacts facts;
        facts.id = monitorId(connector);
        facts.primary = primary != FALSE;
        facts.bounds = Rect{static_cast<double>(x), static_cast<double>(y), width, height};
        facts.monitorName = connector;
        facts.outputName = connector;
        facts.productName = monitor->displayName;
        monitors.push_back(std::move(facts));
    }
    return monitors;
}

std::vector<MonitorFacts> readMonitors(GDBusConnection* connection) {
    std::string error;
    const auto state = callSync(connection, displayConfigService, displayConfigPath, displayConfigService,
                                "GetCurrentState", nullptr, stateType, error);
    if (!state) {
        diagnosticLog().warn("displays: {}", error);
        return {};
    }
    return monitorsFromState(state.get());
}

namespace {

class GnomeDisplays final : public Displays {
public:
    explicit GnomeDisplays(GDBusConnectionPtr bus) : bus_(std::move(bus)) {}

protected:
    std::vector<MonitorFacts> monitors() override { return readMonitors(bus_.get()); }

private:
    GDBusConnectionPtr bus_;
};

}  // namespace

std::shared_ptr<Displays> makeGnomeDisplays() {
    auto bus = sessionBus();
    if (!bus) {
        return nullptr;
    }
    return std::make_shared<GnomeDisplays>(std::move(bus));
}

}  // namespace vantrel::gnome
