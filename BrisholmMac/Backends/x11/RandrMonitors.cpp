#include "Backends/x11/RandrMonitors.hpp"

#include <xcb/randr.h>

#include <cstring>
#include <string>

#include "Log/DiagnosticLog.hpp"

namespace vantrel::x11 {

bool speaksMonitors(const X11Connection& connection) {
    if (connection.extension(xcb_randr_id)) {
        xcb_connection_t* const c = connection.get();
        XcbReply<xcb_randr_query_version_reply_t> version(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        if (version && (version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 5))) {
            return true;
        }
    }
    diagnosticLog().warn("{}: the X server lacks RandR 1.5 monitors", connection.purpose());
    return false;
}

namespace {

std::string atomName(xcb_connection_t* connection, xcb_atom_t atom) {
    XcbReply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
    if (!reply) {
        return {};
    }
    return {xcb_get_atom_name_name(reply.get()), static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get()))};
}

xcb_atom_t existingAtom(xcb_connection_t* connection, const char* name) {
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::string outputName(xcb_connection_t* connection, xcb_randr_output_t output) {
    XcbReply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
        connection, xcb_randr_get_output_info(connection, output, XCB_CURRENT_TIME), nullptr));
    if (!info) {
        return {};
    }
    const auto* name = reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get()));
    return {name, static_cast<std::size_t>(xcb_randr_get_output_info_name_length(info.get()))};
}

std::string productName(xcb_connection_t* connection, xcb_randr_output_t output, xcb_atom_t edidAtom) {
    if (edidAtom == XCB_ATOM_NONE) {
        return {};
    }
    // 128 bytes (32 longs) hold the base block with the descriptors.
    XcbReply<xcb_randr_get_output_property_reply_t> property(xcb_randr_get_output_property_reply(
        connection, xcb_randr_get_output_property(connection, output, edidAtom, XCB_ATOM_ANY, 0, 32, 0, 0), nullptr));
    if (!property || property->format != 8) {
        return {};
    }
    const auto length = static_cast<std::size_t>(xcb_randr_get_output_property_data_length(property.get()));
    return edidProductName({xcb_randr_get_output_property_data(property.get()), length}).value_or("");
}

}  // namespace

std::optional<std::vector<MonitorFacts>> readMonitors(xcb_connection_t* connection, xcb_window_t root, bool withNames) {
    XcbReply<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(connection, xcb_randr_get_monitors(connection, root, 1), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    const xcb_atom_t edidAtom = withNames ? existingAtom(connection, "EDID") : xcb_atom_t{XCB_ATOM_NONE};
    std::vector<MonitorFacts> monitors;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const auto& info = *it.data;
        MonitorFacts monitor;
        monitor.id = info.name;
        monitor.primary = info.primary != 0;
        monitor.bounds = Rect{static_cast<double>(info.x), static_cast<double>(info.y), static_cast<double>(info.width),
                              static_cast<double>(info.height)};
        if (withNames) {
            monitor.monitorName = atomName(connection, info.name);
            if (xcb_randr_monitor_info_outputs_length(it.data) > 0) {
                const auto output = xcb_randr_monitor_info_outputs(it.data)[0];
                monitor.outputName = outputName(connection, output);
                monitor.productName = productName(connection, output, edidAtom);
            }
        }
        monitors.push_back(std::move(monitor));
    }
    return monitors;
}

}  // namespace vantrel::x11
